// The message text byte for byte, the attachment parts and ExtractAddress.
#include "SmtpTestSupport.h"

#include "rtl/Exceptions.h"

#include <functional>
#include <gtest/gtest.h>
#include <vector>

namespace {

struct HeaderCase {
    const char* Name;
    std::function<void(TNMSMTP&)> Setup;
    const char* Header;   // FinalHeader's text form
};

TEST(ComposeMessage, HeaderLinesInOrder)
{
    const HeaderCase cases[] = {
        {"empty record", [](TNMSMTP&) {},
         "From: <>\r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"},
        {"from with name", [](TNMSMTP& s) { s.PostMessage.FromName = "Desk"; s.PostMessage.FromAddress = "desk"; },
         "From: Desk<desk>\r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"},
        {"from without name", [](TNMSMTP& s) { s.PostMessage.FromAddress = "desk"; },
         "From: <desk>\r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"},
        {"to and cc joined, no bcc line",
         [](TNMSMTP& s) {
             s.PostMessage.ToAddress.Add("a");
             s.PostMessage.ToAddress.Add("B <b>");
             s.PostMessage.ToCarbonCopy.Add("c");
             s.PostMessage.ToCarbonCopy.Add("mailto:d");
             s.PostMessage.ToBlindCarbonCopy.Add("hidden");
         },
         "From: <>\r\nTo: a,B <b>\r\nCC: c,mailto:d\r\nMime-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=us-ascii\r\n"},
        {"every optional line",
         [](TNMSMTP& s) {
             s.PostMessage.FromName = "Me ";
             s.PostMessage.FromAddress = "me@here";
             s.PostMessage.ToAddress.Add("you@there");
             s.PostMessage.Subject = "Hello";
             s.PostMessage.LocalProgram = "Pellicork's Quillpost";
             s.PostMessage.ReplyTo = "back@here";
             s.PostMessage.Date = "Fri, 11 Dec 2026 12:00:00 +0000";
         },
         "From: Me <me@here>\r\nTo: you@there\r\nSubject: Hello\r\nX-Mailer: Pellicork's Quillpost\r\n"
         "Reply-To: back@here\r\nDate: Fri, 11 Dec 2026 12:00:00 +0000\r\nMime-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=us-ascii\r\n"},
        {"only date", [](TNMSMTP& s) { s.PostMessage.Date = "today"; },
         "From: <>\r\nDate: today\r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"},
        {"lines put there by a caller are discarded",
         [](TNMSMTP& s) {
             s.FinalHeader.Add("X-Old: 1");
             s.FinalHeader.Add("Subject: old");
         },
         "From: <>\r\nMime-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n"},
    };
    for (const HeaderCase& c : cases) {
        TComposer smtp;
        c.Setup(smtp);
        smtp.ComposeMessage();
        EXPECT_EQ(smtp.FinalHeader.Text(), c.Header) << c.Name;
    }
}

TEST(ComposeMessage, ContentTypeBySubTypeAndCharset)
{
    const struct {
        TSubType SubType;
        const char* Charset;
        const char* Line;
    } cases[] = {
        {mtPlain, "us-ascii", "Content-Type: text/plain; charset=us-ascii"},
        {mtEnriched, "us-ascii", "Content-Type: text/enriched; charset=us-ascii"},
        {mtSgml, "iso-8859-1", "Content-Type: text/sgml; charset=iso-8859-1"},
        {mtTabSeperated, "us-ascii", "Content-Type: text/tab-separated-values; charset=us-ascii"},
        {mtHtml, "us-ascii", "Content-Type: text/html; charset=us-ascii"},
        {mtHtml, "", "Content-Type: text/html; charset="},
    };
    for (const auto& c : cases) {
        TComposer smtp;
        smtp.SubType = c.SubType;
        smtp.Charset = c.Charset;
        smtp.ComposeMessage();
        ASSERT_GT(smtp.FinalHeader.Count(), 0);
        EXPECT_EQ(smtp.FinalHeader[smtp.FinalHeader.Count() - 1], c.Line);
    }
}

TEST(ComposeMessage, PlainMessageTextByteForByte)
{
    TComposer smtp;
    smtp.PostMessage.FromAddress = "me@here";
    smtp.PostMessage.ToAddress.Add("you@there");
    smtp.PostMessage.Subject = "Hi";
    for (const char* line : {".", ".x", "x.", "", "..", " .y"})
        smtp.PostMessage.Body.Add(line);
    smtp.ComposeMessage();
    EXPECT_EQ(smtp.MessageText(),
              "From: <me@here>\r\nTo: you@there\r\nSubject: Hi\r\nMime-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=us-ascii\r\n\r\n\r\n"
              "..\r\n..x\r\nx.\r\n\r\n...\r\n .y\r\n");

    smtp.PostMessage.Body.Clear();
    smtp.ComposeMessage();
    EXPECT_EQ(smtp.BodyStream.ToString(), "") << "an empty body leaves only the two empty lines";
}

// A CR or LF inside an entry never reaches the text alone: it becomes a CR LF
// line break, and the line after it gets its leading dot doubled too.
TEST(ComposeMessage, LineBreaksInsideABodyEntry)
{
    const struct {
        const char* Entry;
        const char* Written;
    } cases[] = {
        {"a\rb", "a\r\nb\r\n"},
        {"a\nb", "a\r\nb\r\n"},
        {"a\r\nb", "a\r\nb\r\n"},
        {"a\n\rb", "a\r\n\r\nb\r\n"},
        {"a\n.b", "a\r\n..b\r\n"},
        {"a\r\n.\r\n", "a\r\n..\r\n\r\n"},
        {"\r", "\r\n\r\n"},
    };
    for (const auto& c : cases) {
        TComposer smtp;
        smtp.PostMessage.Body.Add(c.Entry);
        smtp.ComposeMessage();
        EXPECT_EQ(smtp.BodyStream.ToString(), c.Written) << testing::PrintToString(std::string(c.Entry));
    }
}

std::string PartHeader(const std::string& Boundary, const std::string& Name)
{
    return "--" + Boundary + "\r\nContent-Type: application/octet-stream; name=\"" + Name
         + "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" + Name
         + "\"\r\n\r\n";
}

TEST(ComposeMessage, MultipartLayout)
{
    TempDir folder;
    TComposer smtp;
    smtp.SubType = mtHtml;
    smtp.Charset = "utf-8";
    smtp.PostMessage.FromAddress = "me@here";
    smtp.PostMessage.ToAddress.Add("you@there");
    smtp.PostMessage.Body.Add(".dot");
    smtp.PostMessage.Body.Add("text");
    smtp.PostMessage.Attachments.Add(MakeFile(folder, "abc.txt", "abc"));
    smtp.PostMessage.Attachments.Add(MakeFile(folder, "empty.bin", ""));
    smtp.ComposeMessage();

    const std::string& b = smtp.Boundary;
    ASSERT_EQ(b.size(), 35u);
    EXPECT_EQ(b.substr(0, 25), "====================54535");
    EXPECT_EQ(b.substr(31), "====");
    EXPECT_EQ(smtp.FinalHeader.Text(),
              "From: <me@here>\r\nTo: you@there\r\nMime-Version: 1.0\r\n"
              "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n");
    EXPECT_EQ(smtp.BodyStream.ToString(),
              "--" + b + "\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n..dot\r\ntext\r\n"
              + PartHeader(b, "abc.txt") + "YWJj\r\n"
              + PartHeader(b, "empty.bin")
              + "--" + b + "--\r\n");

    const std::string first = b;
    smtp.ComposeMessage();
    EXPECT_NE(smtp.Boundary, first) << "every multipart message draws a new boundary";
    const std::string second = smtp.Boundary;
    smtp.PostMessage.Attachments.Clear();
    smtp.ComposeMessage();
    EXPECT_EQ(smtp.Boundary, second) << "a message without attachments keeps the last boundary";
}

TEST(WriteAttachmentPart, EncodedLinesInBothEncodings)
{
    TempDir folder;
    const std::string data46 = RandomBytes(46, 7);
    const struct {
        const char* Content;
        size_t Size;
        UUMethods Method;
        std::string Lines;
    } cases[] = {
        {"", 0, uuMime, ""},
        {"", 0, uuCode, "`\r\n"},
        {"abc", 3, uuMime, "YWJj\r\n"},
        {"abc", 3, uuCode, "#86)C\r\n`\r\n"},
        {"a", 1, uuCode, "!80\r\n`\r\n"},
        {"\0\0\0", 3, uuCode, "#````\r\n`\r\n"},
        {data46.data(), 46, uuMime, Base64Lines(data46)},
    };
    for (const auto& c : cases) {
        TComposer smtp;
        smtp.EncodeType = c.Method;
        smtp.PostMessage.Attachments.Add(MakeFile(folder, "f", std::string(c.Content, c.Size)));
        smtp.ComposeMessage();
        EXPECT_EQ(smtp.BodyStream.ToString(),
                  "--" + smtp.Boundary + "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
                  + PartHeader(smtp.Boundary, "f") + c.Lines + "--" + smtp.Boundary + "--\r\n")
            << c.Size << " bytes, method " << int(c.Method);
    }
    const std::string lines = Base64Lines(data46);
    EXPECT_EQ(lines.find("\r\n"), 60u) << "Base64 lines hold 60 characters";
}

TEST(WriteAttachmentPart, BareFileNameInBothParameters)
{
    TempDir folder;
    const struct {
        const char* FileName;
        const char* Bare;
    } cases[] = {
        {"C:\\Data\\report.pdf", "report.pdf"},
        {"D:notes.txt", "notes.txt"},
        {"plain.txt", "plain.txt"},
        {"with \"quote\".txt", "with \"quote\".txt"},
    };
    for (const auto& c : cases) {
        TComposer smtp;
        std::string entry = MakeFile(folder, c.FileName, "x");
        smtp.PostMessage.Attachments.Add(entry);
        smtp.PostMessage.Attachments.Add(entry);
        std::vector<std::string> started;
        smtp.OnEncodeStart = [&](const std::string& f) { started.push_back(f); };
        smtp.ComposeMessage();
        std::string part = PartHeader(smtp.Boundary, c.Bare) + "eA==\r\n";
        EXPECT_EQ(smtp.BodyStream.ToString(),
                  "--" + smtp.Boundary + "\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + part + part
                  + "--" + smtp.Boundary + "--\r\n");
        EXPECT_EQ(started, (std::vector<std::string>{entry, entry})) << "events get the entry as stored";
    }

    // An entry without any folder is used whole (relative to the current folder).
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path.string());
    TComposer smtp;
    smtp.PostMessage.Attachments.Add("plain.txt");
    smtp.ComposeMessage();
    std::filesystem::current_path(previous);
    EXPECT_NE(smtp.BodyStream.ToString().find(PartHeader(smtp.Boundary, "plain.txt")), std::string::npos);
}

TEST(WriteAttachmentPart, MissingFileEventsAndError)
{
    TempDir folder;
    for (bool secondMissing : {false, true}) {
        TComposer smtp;
        std::string present = MakeFile(folder, "here.txt", "x");
        std::string missing = folder.File("gone.txt");
        smtp.PostMessage.Attachments.Add(secondMissing ? present : missing);
        smtp.PostMessage.Attachments.Add(secondMissing ? missing : present);
        std::vector<std::string> events;
        smtp.OnEncodeStart = [&](const std::string& f) { events.push_back("start " + f); };
        smtp.OnEncodeEnd = [&](const std::string& f) { events.push_back("end " + f); };
        smtp.OnAttachmentNotFound = [&](const std::string& f) { events.push_back("missing " + f); };
        try {
            smtp.ComposeMessage();
            ADD_FAILURE() << "a missing attachment must fail";
        } catch (const EFOpenError& e) {
            EXPECT_EQ(e.Message, "Cannot open file " + missing);
        }
        std::vector<std::string> expected;
        if (secondMissing)
            expected = {"start " + present, "end " + present};
        expected.push_back("missing " + missing);
        EXPECT_EQ(events, expected);
    }

    TComposer smtp;
    smtp.PostMessage.Attachments.Add(folder.Path.string());   // a folder is no file
    EXPECT_THROW(smtp.ComposeMessage(), EFOpenError);
}

TEST(ExtractAddress, EveryForm)
{
    const struct {
        const char* Entry;
        const char* Address;
    } cases[] = {
        {"Sales Desk <desk>", "desk"}, {"<desk>", "desk"},     {"Desk <desk", "desk"},
        {"<>", ""},                    {"mailto:desk", "desk"}, {"mailto:desk:x", "desk"},
        {"desk", "desk"},              {"", ""},                {"A <b<c>", "b"},
        {" <Mixed Case> ", "Mixed Case"}, {"x: y ", " y "},
    };
    TNMSMTP smtp;
    for (const auto& c : cases) {
        std::string address = "stale";
        smtp.ExtractAddress(c.Entry, address);
        EXPECT_EQ(address, c.Address) << c.Entry;
    }
}

TEST(TNMSMTP, Defaults)
{
    TNMSMTP smtp;
    EXPECT_EQ(smtp.Port, 25);
    EXPECT_EQ(smtp.Charset, "us-ascii");
    EXPECT_EQ(smtp.SubType, mtPlain);
    EXPECT_EQ(smtp.EncodeType, uuMime);
    EXPECT_TRUE(smtp.ClearParams);
    EXPECT_FALSE(smtp.Busy);
    EXPECT_EQ(smtp.UserID, "");
    EXPECT_EQ(smtp.PostMessage.ToAddress.Count() + smtp.PostMessage.ToCarbonCopy.Count()
                  + smtp.PostMessage.ToBlindCarbonCopy.Count() + smtp.PostMessage.Body.Count()
                  + smtp.PostMessage.Attachments.Count(),
              0);

    TStringList source;
    source.Add("a@b");
    smtp.PostMessage.ToAddress = source;
    source.Add("c@d");
    EXPECT_EQ(smtp.PostMessage.ToAddress.Count(), 1) << "assigning a list copies its lines";
}

}  // namespace
