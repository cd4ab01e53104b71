#!/usr/bin/perl
# What Debian's Perl XBase (libdbd-xbase-perl) reads from the level tables of
# a run: prints "LEVEL_n RECORDS" for LEVEL_1 ... LEVEL_6, counting the records
# that are not deleted after reading every field of every record. A table
# XBase cannot open or read ends the script with a message and status 1.
use strict;
use warnings;
use XBase;

my ($dir) = @ARGV;
die "usage: xbase_summary.pl DATA_DIR\n" unless defined $dir;
for my $n (1 .. 6) {
  my $name = "LEVEL_$n";
  my $table = XBase->new("$dir/$name.DBF") or die "XBase cannot open $name: " . XBase->errstr . "\n";
  my @fields = $table->field_names;
  die "$name has no fields\n" unless @fields;
  my $records = 0;
  for my $i (0 .. $table->last_record) {
    my ($deleted, @values) = $table->get_record($i);
    die "XBase cannot read record $i of $name: " . $table->errstr . "\n" unless defined $deleted;
    die "$name record $i has " . scalar(@values) . " values for " . scalar(@fields) . " fields\n"
      unless @values == @fields;
    $records++ unless $deleted;
  }
  $table->close;
  print "$name $records\n";
}
