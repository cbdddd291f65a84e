// The program's entry: the three windows, created in order, and the event loop.
#include "app/Application.h"
#include "app/Quillpost.h"
#include "app/Settings.h"
#include "app/Unit2.h"

#include <QApplication>
#include <memory>

int main(int argc, char* argv[])
{
    QApplication App(argc, argv);
    QApplication::setApplicationName(AppTitle);

    // Creating the compose window runs its start-up steps, which may fail like any handler.
    const std::string Param1 = argc > 1 ? argv[1] : "";
    std::unique_ptr<TForm1> Main;
    Guard([&] { Main = std::make_unique<TForm1>(Str(QApplication::applicationFilePath()), Param1); });
    if (!Main)
        return 1;
    Form1 = Main.get();
    TForm2 Book;
    Form2 = &Book;
    TForm3 Settings;
    Form3 = &Settings;

    // Closing the compose window ends the program, whatever else is shown.
    Book.setAttribute(Qt::WA_QuitOnClose, false);
    Settings.setAttribute(Qt::WA_QuitOnClose, false);

    Main->show();
    return App.exec();
}
