// The top-level error box: its caption, the full-stop rule, and the failure's text shown as
// written, whatever it looks like.
#include "AppFixture.h"
#include "app/Application.h"
#include "rtl/Exceptions.h"

#include <QMessageBox>

TEST(ErrorBoxText, FullStopOnlyAfterAByteAboveTheFullStop)
{
    const struct {
        const char* Message;
        const char* Shown;
    } Cases[] = {
        {"Connection Failed", "Connection Failed."}, {"Done.", "Done."},
        {"Oops!", "Oops!"},                          {"550 refused\r\n", "550 refused\r\n"},
        {"a/b", "a/b."},                             {"", ""},
        {"caf\xc3\xa9", "caf\xc3\xa9."},
    };
    for (const auto& C : Cases)
        EXPECT_EQ(ErrorBoxText(C.Message), C.Shown) << C.Message;
}

TEST_F(AppTest, ErrorBoxShowsAServersReplyAsPlainText)
{
    const std::string Reply = "550 <b>relay</b> denied &lt;here&gt;\r\n";
    ModalDriver Driver;
    Driver.Then([&](QWidget* W) {
        auto* Box = qobject_cast<QMessageBox*>(W);
        ASSERT_NE(Box, nullptr);
        EXPECT_EQ(Box->windowTitle(), "Quillpost");
        EXPECT_EQ(Box->text().toStdString(), Reply);
        EXPECT_EQ(Box->textFormat(), Qt::PlainText) << "a reply is no markup";
        Box->accept();
    });
    bool Reached = false;
    Guard([&] { throw Exception(Reply); });
    Guard([&] { Reached = true; });
    EXPECT_TRUE(Reached);
}
