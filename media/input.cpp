#include "media/input.h"

bool Input::init(HWND)
{
    return true;
}

void Input::acquire()
{
}

LRESULT Input::handleMessage(HWND, UINT, WPARAM, LPARAM)
{
    return 1;
}

bool Input::update()
{
    dx = 0;
    dy = 0;
    wheel = 0;
    return true;
}
