// Error codes and condition results shared by every subsystem of the engine.
// The texts of the codes live with the reporter (errors.cc); location codes
// are in locations.h.
#pragma once

namespace tablekit::err {

// Files
constexpr int kClose = -10;
constexpr int kCreate = -20;
constexpr int kLength = -30;
constexpr int kLengthSet = -40;
constexpr int kLock = -50;
constexpr int kOpen = -60;
constexpr int kPermission = -61;
constexpr int kAccess = -62;
constexpr int kNumFiles = -63;
constexpr int kFileFind = -64;
constexpr int kInstance = -69;
constexpr int kRead = -70;
constexpr int kRemove = -80;
constexpr int kRename = -90;
constexpr int kUnlock = -110;
constexpr int kWrite = -120;
// Tables
constexpr int kData = -200;
constexpr int kFieldName = -210;
constexpr int kFieldType = -220;
constexpr int kRecordLen = -230;
constexpr int kAppend = -240;
constexpr int kSeek = -250;
// Indexes
constexpr int kEntry = -300;
constexpr int kIndex = -310;
constexpr int kTagName = -330;
constexpr int kUnique = -340;
constexpr int kTagInfo = -350;
constexpr int kCandidate = -360;
// Expressions
constexpr int kCommaExpected = -400;
constexpr int kComplete = -410;
constexpr int kDataName = -420;
constexpr int kLengthErr = -422;
constexpr int kNotConstant = -425;
constexpr int kNumParms = -430;
constexpr int kOverflow = -440;
constexpr int kRightMissing = -450;
constexpr int kTypeSub = -460;
constexpr int kUnrecFunction = -470;
constexpr int kUnrecOperator = -480;
constexpr int kUnrecValue = -490;
constexpr int kUnterminated = -500;
constexpr int kTagExpr = -510;
// Cache
constexpr int kOpt = -610;
constexpr int kOptSuspend = -620;
constexpr int kOptFlush = -630;
// Relations
constexpr int kRelate = -710;
constexpr int kLookupErr = -720;
constexpr int kRelateRefer = -730;
// Critical
constexpr int kInfo = -910;
constexpr int kMemory = -920;
constexpr int kParm = -930;
constexpr int kParmNull = -935;
constexpr int kResult = -950;
constexpr int kVerify = -960;
constexpr int kStruct = -970;
// Not supported
constexpr int kNotIndex = -1010;
constexpr int kNotMemo = -1020;
constexpr int kNotRename = -1030;
constexpr int kNotWrite = -1040;
constexpr int kNotClipper = -1050;
constexpr int kNotLockHook = -1060;
constexpr int kNotSupported = -1090;
constexpr int kVersion = -1095;
// Memo
constexpr int kMemoCorrupt = -1110;
constexpr int kMemoCreate = -1120;
// Transactions
constexpr int kTransViolation = -1200;
constexpr int kTrans = -1210;
constexpr int kRollback = -1220;
constexpr int kCommit = -1230;
constexpr int kTransAppend = -1240;
constexpr int kTransState = -1250;
// Names
constexpr int kNameNotFound = -1420;

// True for the codes that end the process after they are reported.
constexpr bool isFatal(int code) {
  return code == kInfo || code == kMemory || code == kResult || code == kStruct;
}

}  // namespace tablekit::err

namespace tablekit {

// The engine's header version and the build-switch word.
constexpr long kHeaderVersion = 6500;
constexpr long kSwitchWord = 0x030000C4L;

// Exit status of the process after a fatal engine error ("EXITING APPLICATION").
constexpr int kFatalExitStatus = 9;

}  // namespace tablekit
