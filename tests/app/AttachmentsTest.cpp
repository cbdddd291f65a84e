// The attachment list: keys, the "Select Attachment" dialog, files dropped on the window,
// and the current directory around each key.
#include "AppFixture.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QTest>
#include <QUrl>

class AttachmentsTest : public AppTest {
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        ASSERT_TRUE(Other.isValid());
        Start();
    }
    QStringList Entries() const
    {
        QStringList L;
        for (int I = 0; I < F1->ListBox1->count(); ++I)
            L << F1->ListBox1->item(I)->text();
        return L;
    }
    QString MakeFile(const QString& Name)
    {
        const QString Path = QDir(Other.path()).canonicalPath() + "/" + Name;
        WriteFile(Path.toStdString(), "data");
        return Path;
    }
    void Drop(QWidget* Target, const QList<QUrl>& Urls)
    {
        QMimeData Data;
        Data.setUrls(Urls);
        QDragEnterEvent Enter(QPoint(5, 5), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Target, &Enter);
        EXPECT_TRUE(Enter.isAccepted());
        QDropEvent Dropped(QPointF(5, 5), Qt::CopyAction, &Data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Target, &Dropped);
    }

    QTemporaryDir Other;
};

TEST_F(AttachmentsTest, InsertAddsChosenFileAndKeepsCurrentDirectory)
{
    const QString First = MakeFile("report.pdf");
    const QString Before = QDir::currentPath();
    QString Title;
    ModalDriver Driver;
    Driver.Then([&](QWidget* W) {
        auto* Dialog = qobject_cast<QFileDialog*>(W);
        ASSERT_NE(Dialog, nullptr);
        Title = Dialog->windowTitle();
        // Whatever the dialog does to the current directory is undone by the key handler.
        QDir::setCurrent(Other.path());
        // As the user does: type the file's full name into the name field and confirm.
        auto* Name = Dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(Name, nullptr);
        Name->setText(First);
        static_cast<QDialog*>(Dialog)->accept();
    });
    QString Remembered;
    Driver.Then([&](QWidget* W) {
        auto* Dialog = qobject_cast<QFileDialog*>(W);
        ASSERT_NE(Dialog, nullptr);
        Remembered = Dialog->selectedFiles().value(0);
        QDir::setCurrent(Other.path());
        Dialog->reject();
    });
    QTest::keyClick(F1->ListBox1, Qt::Key_Insert);
    EXPECT_EQ(Title, "Select Attachment");
    EXPECT_EQ(Entries(), QStringList{First});
    EXPECT_EQ(QDir::currentPath(), Before);

    QTest::keyClick(F1->ListBox1, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(Remembered, First);
    EXPECT_EQ(Entries(), QStringList{First}) << "Cancel adds nothing";
    EXPECT_EQ(QDir::currentPath(), Before);
    EXPECT_TRUE(Driver.Done());
}

TEST_F(AttachmentsTest, DeleteRemovesOnlyTheSelectedEntry)
{
    const QString A = MakeFile("a.txt"), B = MakeFile("b.txt"), C = MakeFile("c.txt");
    Drop(F1.get(), {QUrl::fromLocalFile(A), QUrl::fromLocalFile(B), QUrl::fromLocalFile(C)});
    const QString Before = QDir::currentPath();

    QTest::keyClick(F1->ListBox1, Qt::Key_Delete);
    EXPECT_EQ(Entries(), (QStringList{A, B, C})) << "nothing selected, nothing removed";

    QTest::keyClick(F1->ListBox1, Qt::Key_Down);
    EXPECT_EQ(Entries(), (QStringList{A, B, C}));
    EXPECT_EQ(QDir::currentPath(), Before);

    F1->ListBox1->setCurrentRow(1);
    QTest::keyClick(F1->ListBox1, Qt::Key_Delete);
    EXPECT_EQ(Entries(), (QStringList{A, C}));
    QTest::keyClick(F1->ListBox1, Qt::Key_Delete);
    EXPECT_EQ(Entries(), (QStringList{A, C})) << "the deleted entry's selection does not pass on";
    EXPECT_EQ(QDir::currentPath(), Before);
}

TEST_F(AttachmentsTest, DroppedFilesArriveInOrderAnywhereOnTheWindow)
{
    const QString A = MakeFile("one.txt"), B = MakeFile("two.txt"), C = MakeFile("three.txt");
    const QString Folder = QDir(Other.path()).canonicalPath();
    Drop(F1.get(), {QUrl::fromLocalFile(A), QUrl::fromLocalFile(B), QUrl::fromLocalFile(C)});
    Drop(F1->Memo1->viewport(), {QUrl::fromLocalFile(Folder), QUrl::fromLocalFile(A)});
    Drop(F1->memo2->viewport(), {QUrl::fromLocalFile(A)});
    EXPECT_EQ(Entries(), (QStringList{A, B, C, Folder, A, A}));
    EXPECT_TRUE(F1->Memo1->toPlainText().isEmpty()) << "a dropped file is not text";
    EXPECT_TRUE(F1->memo2->toPlainText().isEmpty());
}
