// The sanitizer build checks the standard library's bounds too: an index
// one past the end of a string view, which reads the terminating byte
// behind it unseen by AddressSanitizer, ends the run there.

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#ifdef __has_feature
#if __has_feature(address_sanitizer)
#define VARDEL_TEST_SANITIZED 1
#endif
#endif
#ifdef __SANITIZE_ADDRESS__
#define VARDEL_TEST_SANITIZED 1
#endif

#if defined(_GLIBCXX_ASSERTIONS)
namespace {

char byteAt(std::string_view text, std::size_t index) { return text[index]; }

}  // namespace
#endif

TEST(SanitizerBuild, AnIndexPastTheEndOfAStringViewFails) {
#if defined(_GLIBCXX_ASSERTIONS)
    const std::string line = "ea 1";
    EXPECT_EQ(byteAt(line, line.size() - 1), '1');
    EXPECT_DEATH(byteAt(line, line.size()), "");
#elif defined(VARDEL_TEST_SANITIZED)
    FAIL() << "the sanitizer build lacks _GLIBCXX_ASSERTIONS";
#else
    GTEST_SKIP() << "only the sanitizer build checks the standard library's bounds";
#endif
}
