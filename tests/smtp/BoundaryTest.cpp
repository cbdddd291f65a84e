// Runs alone in its own process: the boundary generator is shared by the whole
// process, so only a fresh process sees its first draws.
#include "SmtpTestSupport.h"

#include <gtest/gtest.h>

TEST(Boundary, FirstThreeOfAFreshProcess)
{
    TempDir folder;
    const std::string file = MakeFile(folder, "a.txt", "a");
    const char* expected[] = {"====================54535aavfgq====", "====================54535hejkcl====",
                              "====================54535bvbhwj===="};
    for (const char* boundary : expected) {
        TComposer smtp;
        smtp.PostMessage.Attachments.Add(file);
        smtp.ComposeMessage();
        ASSERT_EQ(smtp.Boundary, boundary);
        EXPECT_EQ(smtp.FinalHeader[smtp.FinalHeader.Count() - 1],
                  std::string("Content-Type: multipart/mixed; boundary=\"") + boundary + "\"");
        const std::string text = smtp.BodyStream.ToString();
        EXPECT_EQ(text.substr(text.size() - 41), std::string("--") + boundary + "--\r\n");
    }
}
