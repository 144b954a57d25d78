// The host's words for the filter's error numbers: the filter holds no
// message texts, so turning a number into a message is the host's business.
#ifndef GIFIMPORT_HOST_ERRORS_H
#define GIFIMPORT_HOST_ERRORS_H

#include <cstdint>
#include <string>

namespace host {

// A message for every number the filter returns or reports; a general one
// for numbers it does not know.
const char* FilterErrorMessage(int32_t code);

// "MESSAGE (error N)".
std::string DescribeFilterError(int32_t code);

}  // namespace host

#endif
