#pragma once

// The names by which the helper's service is found: the service host registers its control
// handler under the service name, install creates the service with it and uninstall removes
// it; the listener serves the pipe and clients open it. Platform-free.

namespace tolvek {

inline constexpr char16_t kServiceName[] = u"TolvekDisplayHelper";

inline constexpr char16_t kHelperPipeName[] = u"\\\\.\\pipe\\tolvek-display-helper";

} // namespace tolvek
