#include "Quillpost.h"

TForm1* Form1 = nullptr;
