#pragma once

// Arguments that a child's command line must carry back exactly: blanks, quotes and
// backslashes in every position that the quoting rules treat differently.

#include <string>
#include <vector>

namespace tolvek::testing {

inline std::vector<std::u16string> quoting_cases()
{
    return {
        u"/add-driver",
        u"C:\\Program Files\\Tolvek\\driver\\TolvekIdd.inf",
        u"",
        u" ",
        u"a\tb",
        u"line\nbreak",
        u"say \"hi\"",
        u"\"",
        u"\"\"",
        u"trailing\\",
        u"with blank\\",
        u"with blank\\\\",
        u"\\\\server\\share\\",
        u"back\\\"quote",
        u"back\\\\\"quote twice",
        u"C:\\no\\blanks\\here",
        u"\\",
        u"\u00e9\u4e2d \U0001F600",
    };
}

} // namespace tolvek::testing
