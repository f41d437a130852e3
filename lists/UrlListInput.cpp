#include "app/Form1.h"

void Form1::PushButton5_Click() {}

void Form1::PushButton13_Click() {}

void Form1::PushButton2_Click() {}
