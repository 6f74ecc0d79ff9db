#pragma once
// The directory layer's "WinNT:" provider over the server list
// (NetServers.h): "WinNT:" is the namespace whose children are the
// network's domains (class "Domain"), "WinNT://DOMAIN" a domain whose
// children are its computers (class "Computer"), "WinNT://DOMAIN/NAME" one
// computer. Objects answer Name (and Get("Name")); nothing else is read.
//
// Loading this library installs the provider with
// velmo::ads::SetWinNTProvider; InstallWinNTProvider does it again (a
// program that wants to be explicit, or a test that removed it).
//
// Failures are thrown as velmo::ComError: an unknown domain 0x8007054B,
// an unknown computer 0x80070035, a server list that cannot be read as the
// list's error (0x80070000 | code, for example 0x800717E6 for 6118).
namespace velmo::net {

void InstallWinNTProvider();

}  // namespace velmo::net
