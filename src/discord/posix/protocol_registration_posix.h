// POSIX side of URL-protocol registration. Only POSIX code belongs in this file.
#pragma once

#include <string>
#include <string_view>

namespace mau::discord {

// `argument` as one argument of a desktop entry's Exec line: quoted when it holds a
// reserved character, with the escapes of the quoting rules and of string values, and
// "%" doubled so that it is no field code.
std::string DesktopExecArgument(std::string_view argument);

}  // namespace mau::discord
