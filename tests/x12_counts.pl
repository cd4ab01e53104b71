#!/usr/bin/perl
# What an independent X12 parser (Debian's libx12-parser-perl, X12::Parser)
# finds in an 835 interchange, as the records the translator should make of
# it. Prints "KEY VALUE" lines:
#   VERSION v        the interchange version of each GS (GS08 characters 3-6)
#   LEVEL_1 ... 6    records the level tables should hold: one per ISA; per GS
#                    and per ST not right after a GS; per LX, CLP, SVC; and one
#                    LEVEL_6 record per CAS reason-code triple, PLB adjustment
#                    pair, REF and LQ
#   CAS, PLB, REF, LQ   the LEVEL_6 records of each kind
#   CLP03, CLP04, SVC02, CAS_AMOUNT, PLB_AMOUNT   sums in cents
#
# X12::Parser reads the delimiters at the fixed offsets of a 106-byte ISA;
# interchanges whose ISA is padded otherwise are common, so the delimiters
# are taken by the X12 rule instead (the byte after ISA, the bytes after the
# sixteenth element separator) and handed to the parser, which then splits
# the file into segments and walks its loops. Segment text is cut of leading
# line breaks and indentation, as a reader of such files must.
use strict;
use warnings;
use X12::Parser;

my ($file) = @ARGV;
die "usage: x12_counts.pl FILE\n" unless defined $file;

open(my $raw, '<:raw', $file) or die "cannot open $file\n";
my $head;
read($raw, $head, 4096);
close($raw);
$head =~ s/^\xEF\xBB\xBF//;
die "$file does not begin with ISA\n" unless substr($head, 0, 3) eq 'ISA';
my $element = substr($head, 3, 1);
my ($count, $pos) = (0, 3);
for (; $pos < length($head); ++$pos) {
  last if substr($head, $pos, 1) eq $element && ++$count == 16;
}
my $component = substr($head, $pos + 1, 1);
my $terminator = substr($head, $pos + 2, 1);

my $conf = '/usr/share/perl5/X12/Parser/cf/835_004010X091.cf';
open(my $in, '<:raw', $file) or die "cannot open $file\n";
# A byte order mark is not part of the interchange.
my $bom;
read($in, $bom, 3);
seek($in, 0, 0) unless $bom eq "\xEF\xBB\xBF";
my $parser = X12::Parser->new;
$parser->parse(handle => $in, conf => $conf);
$parser->{_SEGMENT_SEPARATOR} = $terminator;
$parser->{_ELEMENT_SEPARATOR} = $element;
$parser->{_SUBELEMENT_SEPARATOR} = $component;

my @segments;
while (defined(my $loop = $parser->get_next_loop)) {
  push @segments, $parser->get_loop_segments;
}

my %out = map { $_ => 0 } qw(LEVEL_1 LEVEL_2 LEVEL_3 LEVEL_4 LEVEL_5 LEVEL_6 CAS PLB REF LQ
                             CLP03 CLP04 SVC02 CAS_AMOUNT PLB_AMOUNT);
my @versions;
my $previous = '';
sub cents { my ($v) = @_; return 0 unless defined $v && $v =~ /^\s*([-+]?(\d+\.?\d*|\.\d+))/; return sprintf('%.0f', $1 * 100); }
for my $segment (@segments) {
  $segment =~ s/^[\x00-\x20\x80-\xff]+//;
  next if $segment eq '';
  my @e = split(/\Q$element\E/, $segment, -1);
  my $id = $e[0];
  my $n = $#e;  # elements after the identifier
  if ($id eq 'ISA') { $out{LEVEL_1}++ }
  elsif ($id eq 'GS') { $out{LEVEL_2}++; push @versions, substr($e[8] // '', 2, 4) }
  elsif ($id eq 'ST') { $out{LEVEL_2}++ unless $previous eq 'GS' }
  elsif ($id eq 'LX') { $out{LEVEL_3}++ }
  elsif ($id eq 'CLP') { $out{LEVEL_4}++; $out{CLP03} += cents($e[3]); $out{CLP04} += cents($e[4]) }
  elsif ($id eq 'SVC') { $out{LEVEL_5}++; $out{SVC02} += cents($e[2]) }
  elsif ($id eq 'CAS') {
    # CAS01 starts the first triple's record, every further CAS05, CAS08 ... one more.
    for (my $i = 1; $i <= $n; $i += ($i == 1 ? 4 : 3)) { $out{CAS}++ }
    for (my $i = 3; $i <= $n; $i += 3) { $out{CAS_AMOUNT} += cents($e[$i]) }
  }
  elsif ($id eq 'PLB') {
    for (my $i = 3; $i <= $n; $i += 2) {
      $out{PLB}++;
      $out{PLB_AMOUNT} += cents($e[$i + 1]) if $i + 1 <= $n;
    }
  }
  elsif ($id eq 'REF') { $out{REF}++ }
  elsif ($id eq 'LQ') { $out{LQ}++ }
  $previous = $id;
}
$out{LEVEL_6} = $out{CAS} + $out{PLB} + $out{REF} + $out{LQ};
print "VERSION $_\n" for @versions;
print "$_ $out{$_}\n" for sort keys %out;
