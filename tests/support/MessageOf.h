// The message of the exception of type E that Action raises, or "(nothing raised)".
#pragma once

#include <string>

template <class E>
std::string MessageOf(auto&& Action)
{
    try {
        Action();
    } catch (const E& Failure) {
        return Failure.what();
    }
    return "(nothing raised)";
}
