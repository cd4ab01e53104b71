// What the units of the data layer share with each other and with the rest of
// the engine: blank field values for building a table's blank record, the
// record-lock test behind lock enforcement, and the date helpers that the
// field operations use. Internal: never installed, never included by the
// translator.
#pragma once

#include "tablekit.h"

namespace tablekit::data {

// ---------------------------------------------------------------------------
// Fields (fields.cc)

// The byte a blank field of this type is filled with: NUL for the binary
// types B, I, O, P, Q, R, V and W, a blank for every other type.
char blankByte(int type);

// Fills the field's bytes inside recordBuffer (which starts with the
// deletion flag, so the field lies at recordBuffer + field.offset) with the
// field's blank value. Used by f4blank and by table opening to build the
// blank record.
void fieldBlank(const FIELD4 &field, char *recordBuffer);

// Whether record recNo of the table is locked by this handle: 1 locked,
// 0 not. Writing field operations refuse to write (-50) while the
// context's lockEnforce setting is on and the current record is not locked.
//
// Until the lock bookkeeping exists this answers from the share mode alone:
// a table whose file was opened exclusively (access mode 1) or for this
// process's writes only (access mode 2) counts as locked; a shared open
// (access mode 0) does not. The record-lock test of the locking unit
// replaces this body.
int recordLockedByHandle(DATA4 &data, long recNo);

// ---------------------------------------------------------------------------
// Dates (dates.cc)

// The day number of an 8-character CCYYMMDD text (date4long) read from a
// field of len bytes: a shorter field counts as padded with blanks, a longer
// one is read in its first 8 bytes. Never reads past len.
long fieldDayNumber(const char *bytes, unsigned len);

// Writes the date of a day number into a field of len bytes: the 8
// characters of date4assignLow (blanks for a day number <= 0), cut to len
// or followed by blanks up to len.
void fieldAssignDayNumber(char *bytes, unsigned len, long dayNumber);

}  // namespace tablekit::data
