// The rename list's body format alone: no files, so these run natively too.
#include <gtest/gtest.h>

#include <string>

#include "fileops/rename_list_body.h"

namespace {

TEST(RenameListBody, ScramblingChangesEveryByteAndUndoesItself) {
    std::string body(3 * 272 + 5, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7);
    const std::string plain = body;
    ScrambleRenameList(body.data(), static_cast<uint32_t>(body.size()));
    for (size_t i = 0; i < body.size(); ++i) EXPECT_NE(body[i], plain[i]) << "position " << i;
    // The key repeats every 272 bytes and restarts on every call.
    for (size_t i = 0; i + 272 < body.size(); ++i) {
        EXPECT_EQ(body[i] ^ plain[i], body[i + 272] ^ plain[i + 272]);
    }
    ScrambleRenameList(body.data(), static_cast<uint32_t>(body.size()));
    EXPECT_EQ(body, plain);
}

TEST(RenameListBody, ValidBodyHasAnEndAndWholePairs) {
    struct Case {
        std::string body;
        int valid;
    };
    const Case cases[] = {
        {std::string("a\0b\0\0", 5), 1},
        {std::string("a\0b\0c\0d\0\0", 9), 1},
        {std::string("a\0b\0\0junk", 9), 1},  // what follows the end is not read
        {std::string("\0b\0\0", 4), 1},       // an empty first string counts as one
        {std::string("a\0\0", 3), 0},         // odd count
        {std::string("a\0b\0c\0\0", 7), 0},
        {std::string("a\0b\0", 4), 0},  // no end
        {"ab", 0},
        {std::string("\0", 1), 0},
        {std::string("\0\0", 2), 0},
        {"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.body));
        EXPECT_EQ(IsValidRenameListBody(c.body.data(), static_cast<uint32_t>(c.body.size())), c.valid);
    }
}

}  // namespace
