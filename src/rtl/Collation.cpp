#include "Collation.h"

#include <algorithm>

namespace {

bool IsUpper(unsigned char c) { return c >= 'A' && c <= 'Z'; }
bool IsLower(unsigned char c) { return c >= 'a' && c <= 'z'; }
bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Blanks and punctuation sort before digits, digits before letters (either case alike),
// letters before the bytes above 127.
int Weight(unsigned char c)
{
    if (IsUpper(c))
        c = static_cast<unsigned char>(c - 'A' + 'a');
    int group = IsLower(c) ? 2 : IsDigit(c) ? 1 : c >= 0x80 ? 3 : 0;
    return group << 8 | c;
}

int CompareWeights(const std::string& A, const std::string& B)
{
    const size_t n = std::min(A.size(), B.size());
    for (size_t i = 0; i < n; ++i) {
        int a = Weight(static_cast<unsigned char>(A[i]));
        int b = Weight(static_cast<unsigned char>(B[i]));
        if (a != b)
            return a < b ? -1 : 1;
    }
    return A.size() < B.size() ? -1 : A.size() > B.size() ? 1 : 0;
}

// Only called on texts of equal weights: they differ at most in letter case.
int CompareCase(const std::string& A, const std::string& B)
{
    for (size_t i = 0; i < A.size(); ++i) {
        if (A[i] != B[i])
            return IsLower(static_cast<unsigned char>(A[i])) ? -1 : 1;
    }
    return 0;
}

} // namespace

int CompareAddressText(const std::string& A, const std::string& B)
{
    int result = CompareWeights(A, B);
    return result != 0 ? result : CompareCase(A, B);
}
