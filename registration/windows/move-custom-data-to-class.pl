#!/usr/bin/perl
# Moves the custom data that widl wrote for one interface to the type library's coclass.
#
# The COM+ transaction attribute belongs on the class, but the widl that Debian ships accepts `custom` only
# on interfaces and members. The IDL therefore puts it on the class's default interface, and this step hands
# that custom-data list over to the class in the compiled (MSFT format) library, which is what a reader of
# the class's custom data (COM+ when it imports the component) looks at.
#
# Usage: move-custom-data-to-class.pl <in.tlb> <out.tlb>
use strict;
use warnings;

my ($input, $output) = @ARGV;
die "usage: $0 <in.tlb> <out.tlb>\n" unless defined $output;

open(my $in, '<:raw', $input) or die "$input: $!\n";
local $/;
my $library = <$in>;
close($in);

sub read_int { my ($offset) = @_; return unpack('l<', substr($library, $offset, 4)); }
sub write_int { my ($offset, $value) = @_; substr($library, $offset, 4) = pack('l<', $value); }

die "$input: not an MSFT type library\n" unless substr($library, 0, 4) eq 'MSFT';
my $flags = read_int(0x14);
my $count = read_int(0x20);
# The fixed header, the help-DLL entry when there is one, the typeinfo offsets, then the segment
# directory whose first entry is the typeinfo segment.
my $directory = 0x54 + (($flags & 0x100) ? 4 : 0) + 4 * $count;
my $typeinfos = read_int($directory);

my $typeinfoSize = 0x64;
my $customDataField = 0x48;
my $coclassKind = 5;
my (@classes, @carriers);
for my $index (0 .. $count - 1) {
  my $base = $typeinfos + $index * $typeinfoSize;
  push @classes, $base if (read_int($base) & 0xF) == $coclassKind;
  push @carriers, $base if (read_int($base) & 0xF) != $coclassKind && read_int($base + $customDataField) != -1;
}
die "$input: expected one coclass, found " . scalar(@classes) . "\n" unless @classes == 1;
die "$input: expected custom data on one interface, found " . scalar(@carriers) . "\n" unless @carriers == 1;
die "$input: the coclass already has custom data\n" unless read_int($classes[0] + $customDataField) == -1;

write_int($classes[0] + $customDataField, read_int($carriers[0] + $customDataField));
write_int($carriers[0] + $customDataField, -1);

open(my $out, '>:raw', $output) or die "$output: $!\n";
print $out $library or die "$output: $!\n";
close($out) or die "$output: $!\n";
