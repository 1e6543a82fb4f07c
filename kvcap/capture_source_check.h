#pragma once

#include <string>

// Whether the capture source named as for KVCapSetSource can start: the name follows the
// grammar, a desktop source is there in this build, and every replayed image can be read.
// False with `problem` set to a sentence a user can act on.
bool CheckCaptureSource(const char* text, std::string* problem);
