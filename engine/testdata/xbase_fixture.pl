#!/usr/bin/perl
# Writes engine/testdata/xbase_fixture.dbf with the XBase module (Debian: libdbd-xbase-perl),
# a .DBF writer independent of this project. Usage: perl xbase_fixture.pl OUTPUT.dbf
use strict;
use warnings;
use utf8;
use Encode qw(encode);
use XBase;

my $out = shift or die "usage: $0 OUTPUT.dbf\n";
unlink $out;
my $table = XBase->create(
    name           => $out,
    field_names    => ['TITLE', 'REGNO', 'PRICE', 'REGDATE', 'ONLOAN'],
    field_types    => ['C', 'N', 'N', 'D', 'L'],
    field_lengths  => [20, 8, 8, 8, 1],
    field_decimals => [undef, 0, 2, undef, undef],
    codepage       => 0x13,
) or die XBase->errstr;
$table->set_record(0, encode('cp932', '吾輩は猫である'), 1234, 1500.5, '20040315', 1) or die $table->errstr;
$table->set_record(1, 'Plain ASCII', -7, undef, undef, 0) or die $table->errstr;
$table->set_record(2, 'gone', 3, 1, '19991231', 1) or die $table->errstr;
$table->delete_record(2) or die $table->errstr;
$table->close;
