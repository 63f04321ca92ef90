#pragma once

// The name of the helper's service: the service host registers its control handler under
// it, install creates the service with it and uninstall removes it. Platform-free.

namespace tolvek {

inline constexpr char16_t kServiceName[] = u"TolvekDisplayHelper";

} // namespace tolvek
