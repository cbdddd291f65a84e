// The address book's order of texts: alphabetical first, and letter case only between
// texts that are otherwise equal, lower case first.
#pragma once

#include <string>

// <0 when A sorts before B, 0 when the texts are equal, >0 otherwise.
int CompareAddressText(const std::string& A, const std::string& B);
