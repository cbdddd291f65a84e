// The three windows created as the program creates them, over a fresh executable directory,
// and a driver for the modal dialogs the windows open.
#pragma once

#include "app/Quillpost.h"
#include "app/Settings.h"
#include "app/Unit2.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QString>
#include <QStringList>
#include <ostream>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>

class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates Form1 (running its start-up) with the executable in Dir, then Form2 and Form3.
    void Start(const std::string& Param1 = "");
    // Shows the settings window and waits until it is the active window.
    void ActivateSettings();
    // Makes the compose window the active window.
    void ActivateMain();

    QString ExeDir() const { return QDir(Dir.path()).canonicalPath(); }
    std::string IniPath() const { return (ExeDir() + "/quillpost.ini").toStdString(); }
    static std::string ReadFile(const std::string& Path);
    static void WriteFile(const std::string& Path, const std::string& Bytes);

    QTemporaryDir Dir;
    QString StartDir;
    std::unique_ptr<TForm1> F1;
    std::unique_ptr<TForm2> F2;
    std::unique_ptr<TForm3> F3;
};

// Acts on modal dialogs as they appear, one action per dialog, in order. Every wait is bounded;
// a dialog that never comes is a test failure.
class ModalDriver {
public:
    using Action = std::function<void(QWidget* Dialog)>;
    ~ModalDriver();
    void Then(Action A);
    // True when every action has run.
    bool Done() const;

private:
    void Arm();
    std::vector<Action> FActions;
    size_t FNext = 0;
    class QTimer* FTimer = nullptr;
    int FTicks = 0;
};

// Readable QString values in failure messages.
inline void PrintTo(const QString& S, std::ostream* Os)
{
    *Os << '"' << S.toStdString() << '"';
}
