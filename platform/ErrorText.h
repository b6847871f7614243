// Texts of the operating system's error codes.
#pragma once

#include <string>

namespace orvale::platform {

// The calling thread's last error code (errno).
int LastError();

// Sets the calling thread's last error code (errno).
void SetLastError(int code);

// The system's English text for an error code; "No Error" for 0.
std::string ErrorText(int code);

}  // namespace orvale::platform
