// Removal of the product's Windows Filtering Platform objects.
#ifndef UNINSTALL_FIREWALL_CLEANUP_H_
#define UNINSTALL_FIREWALL_CLEANUP_H_

#include <cstdint>

// Opens the local filtering engine as session "TSL Uninstaller" and, inside
// one transaction, deletes every filter that an enumeration by
// kFirewallProviderKey returns, then the sublayer kFirewallSublayerKey, then
// the provider (either already absent counts as done); commits whatever
// succeeded and closes the engine. Writes "[NWX Cleanup] " lines through
// OutputDebugStringA for each failure and a summary. Returns -1 when the
// engine cannot be opened (nothing else is tried), else the number of
// filters deleted (0 when the commit failed, which undoes them all).
// *allRemoved (when not null) tells whether the product's objects are all
// gone as far as the engine said: false when the enumeration failed, a
// filter, the sublayer or the provider could not be deleted other than by
// being absent already, or the commit failed.
int32_t RemoveFirewallRules(bool* allRemoved);

#endif  // UNINSTALL_FIREWALL_CLEANUP_H_
