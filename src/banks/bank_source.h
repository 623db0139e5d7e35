// Where a runtime bank comes from: the source names that the editor's bank
// messages, the processor's bank request and the state document carry.
#pragma once

namespace norva {

inline constexpr const char *kBankSourceEmbedded = "embedded";
inline constexpr const char *kBankSourceModuleRelative = "module-relative";
inline constexpr const char *kBankSourceUserFolder = "user-folder";
inline constexpr const char *kBankSourceHosted = "hosted";

} // namespace norva
