#include "app/Form1.h"

void Form1::PushButton3_Click() {}
