#pragma once

#include <string>
#include <string_view>

// Wide texts (interface names, face names) as traces print them: UTF-8.
std::string TraceText(std::u16string_view text);
