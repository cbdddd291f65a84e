// The fixed layouts with the chosen font: no caption, button text or label is clipped or
// covered by another control.
#include "AppFixture.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>

namespace {

void ExpectNothingClipped(QWidget* Form)
{
    for (QLabel* Label : Form->findChildren<QLabel*>()) {
        if (!Label->isVisibleTo(Form) || Label->text().isEmpty())
            continue;
        const QFontMetrics Metrics(Label->font());
        const QRect Text(Label->pos(), QSize(Metrics.horizontalAdvance(Label->text()), Metrics.height()));
        SCOPED_TRACE(Label->text().toStdString());
        EXPECT_TRUE(Label->rect().contains(QRect(QPoint(0, 0), Text.size())));
        EXPECT_TRUE(Label->parentWidget()->rect().contains(Text));
        for (QObject* Other : Label->parentWidget()->children()) {
            auto* W = qobject_cast<QWidget*>(Other);
            if (W && W != Label && W->isVisibleTo(Form) && !W->isWindow()) {
                EXPECT_FALSE(W->geometry().intersects(Text)) << "covered by " << W->metaObject()->className();
            }
        }
    }
    for (QAbstractButton* Button : Form->findChildren<QAbstractButton*>()) {
        if (!Button->isVisibleTo(Form) || Button->text().isEmpty())
            continue;
        const QFontMetrics Metrics(Button->font());
        SCOPED_TRACE(Button->text().toStdString());
        EXPECT_LE(Metrics.horizontalAdvance(Button->text()) + 4, Button->width());
        EXPECT_LE(Metrics.height(), Button->height());
    }
}

} // namespace

TEST_F(AppTest, FixedLayoutsFitTheirTexts)
{
    Start();
    EXPECT_EQ(F1->size(), QSize(266, 316));
    EXPECT_EQ(F3->size(), QSize(265, 149));
    EXPECT_EQ(F2->size(), QSize(240, 253));
    EXPECT_EQ(F3->windowTitle(), "Quill Post Settings");
    EXPECT_EQ(F2->windowTitle(), "Address Book");
    ExpectNothingClipped(F1.get());
    ExpectNothingClipped(F3.get());
}
