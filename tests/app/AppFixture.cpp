#include "AppFixture.h"

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <iterator>

void AppTest::SetUp()
{
    ASSERT_TRUE(Dir.isValid());
    StartDir = QDir::currentPath();
}

void AppTest::TearDown()
{
    F3.reset();
    F2.reset();
    F1.reset();
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
    QDir::setCurrent(StartDir);
}

void AppTest::Start(const std::string& Param1)
{
    F1 = std::make_unique<TForm1>((ExeDir() + "/quillpost").toStdString(), Param1);
    Form1 = F1.get();
    F2 = std::make_unique<TForm2>();
    Form2 = F2.get();
    F3 = std::make_unique<TForm3>();
    Form3 = F3.get();
    F1->show();
}

void AppTest::ActivateSettings()
{
    F3->show();
    F3->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(F3.get(), 1000));
}

void AppTest::ActivateMain()
{
    F1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(F1.get(), 1000));
}

std::string AppTest::ReadFile(const std::string& Path)
{
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

void AppTest::WriteFile(const std::string& Path, const std::string& Bytes)
{
    std::ofstream(Path, std::ios::binary) << Bytes;
}

ModalDriver::~ModalDriver()
{
    delete FTimer;
    EXPECT_TRUE(Done()) << "a dialog the test waited for did not appear";
}

void ModalDriver::Then(Action A)
{
    FActions.push_back(std::move(A));
    if (!FTimer)
        Arm();
}

bool ModalDriver::Done() const
{
    return FNext == FActions.size();
}

void ModalDriver::Arm()
{
    FTimer = new QTimer;
    FTimer->setInterval(5);
    QObject::connect(FTimer, &QTimer::timeout, [this] {
        if (Done())
            return;
        QWidget* Modal = QApplication::activeModalWidget();
        if (Modal && Modal->isVisible()) {
            FTicks = 0;
            FActions[FNext++](Modal);
        } else if (++FTicks > 400) {
            // About two seconds without the awaited dialog: give up on the rest.
            ADD_FAILURE() << "no modal dialog appeared";
            FNext = FActions.size();
        }
    });
    FTimer->start();
}
