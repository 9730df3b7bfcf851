// Where the extension's configuration lives: subkeys of HKEY_LOCAL_MACHINE.
// The readers in this folder, the results cache, the login driver and
// self-registration all refer to the same roots, so they are named once here.

#ifndef WENDREL_CONFIG_REGISTRY_PATHS_H_
#define WENDREL_CONFIG_REGISTRY_PATHS_H_

namespace wendrel {

// The login options and the registration values.
constexpr char kOptionsKeyPath[] =
    "Software\\Tarvos\\Graphical Login\\QZLGE\\LDAP Contextless";

// Server list (values "0", "1", ...) and per-server settings ("Port %d", ...).
constexpr char kServersKeyPath[] = "Software\\Tarvos\\LDAP\\Servers";
constexpr char kServerSettingsKeyPath[] = "Software\\Tarvos\\LDAP\\Servers\\settings";

// Configured trees (values "0", "1", ...).
constexpr char kTreesKeyPath[] = "Software\\Tarvos\\LDAP\\Trees";

// Search-context switches per tree index, and one subkey per tree index
// ("...\\Contexts\\0") holding that tree's contexts.
constexpr char kContextsKeyPath[] = "Software\\Tarvos\\LDAP\\Contexts";

// The results cache: one subkey per tree, below it one per upper-cased name.
constexpr char kCachedResultsKeyPath[] = "Software\\Tarvos\\LDAP\\CachedResults";

// The workstation's login settings; "Local Login" non-zero turns the
// extension off.
constexpr char kLoginKeyPath[] = "Software\\Tarvos\\Login";
constexpr char kLocalLoginValueName[] = "Local Login";

}  // namespace wendrel

#endif  // WENDREL_CONFIG_REGISTRY_PATHS_H_
