#include "app/Handover.h"

#include "conversion/Form1.h"

void ShowConversionWindow()
{
    Form1::openConversionWindow();
}
