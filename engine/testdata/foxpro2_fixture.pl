#!/usr/bin/perl
# Writes engine/testdata/foxpro2_fixture.dbf and its memo file foxpro2_fixture.fpt with the Perl
# module XBase (Debian: libdbd-xbase-perl), a .DBF writer independent of this project: a
# FoxPro 2.x table with memo (version 0xF5) holding a float (F) and a memo (M) field.
# Usage: perl foxpro2_fixture.pl OUTPUT.dbf
use strict;
use warnings;
use utf8;
use Encode qw(encode);
use XBase;

my $out = shift or die "usage: $0 OUTPUT.dbf\n";
(my $memo = $out) =~ s/\.dbf$/.fpt/;
unlink $out, $memo;
my $table = XBase->create(
    name           => $out,
    version        => 0xf5,
    codepage       => 0x13,
    field_names    => ['TITLE', 'PRICE', 'RATIO', 'REGDATE', 'ONLOAN', 'NOTE'],
    field_types    => ['C', 'N', 'F', 'D', 'L', 'M'],
    field_lengths  => [20, 8, 12, 8, 1, 10],
    field_decimals => [undef, 0, 4, undef, undef, undef],
) or die XBase->errstr;
$table->set_record(0, encode('cp932', '坊っちゃん'), 1500, 0.125, '19060401', 1, encode('cp932', '松山の中学校'))
    or die $table->errstr;
$table->set_record(1, 'Plain', undef, -2.5, undef, undef, undef) or die $table->errstr;
$table->close;
