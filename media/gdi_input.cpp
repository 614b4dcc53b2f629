#include "media/input.h"

#include "foundation/diagnostics.h"

#include <algorithm>
#include <iterator>

namespace {

constexpr UINT_PTR recentreTimer = 0xDEAD;
constexpr UINT recentreDelay = 250; // ms after the last mouse move

struct KeyRow {
    u8 virtualKey;
    u8 dik;
};

// Virtual key to the DirectInput code of the same physical key.
constexpr KeyRow keyRows[] = {
    {8, 14}, {9, 15}, {13, 28}, {16, 42}, {17, 29}, {18, 56},
    {19, 197}, {20, 58}, {21, 112}, {25, 148}, {27, 1}, {28, 121}, {29, 123}, {32, 57},
    {33, 201}, {34, 209}, {35, 207}, {36, 199}, {37, 203}, {38, 200}, {39, 205}, {40, 208},
    {42, 183}, {45, 210}, {46, 211},
    {48, 11}, {49, 2}, {50, 3}, {51, 4}, {52, 5}, {53, 6}, {54, 7}, {55, 8}, {56, 9}, {57, 10},
    {65, 30}, {66, 48}, {67, 46}, {68, 32}, {69, 18}, {70, 33}, {71, 34}, {72, 35}, {73, 23},
    {74, 36}, {75, 37}, {76, 38}, {77, 50}, {78, 49}, {79, 24}, {80, 25}, {81, 16}, {82, 19},
    {83, 31}, {84, 20}, {85, 22}, {86, 47}, {87, 17}, {88, 45}, {89, 21}, {90, 44},
    {91, 219}, {92, 220}, {93, 221}, {95, 223},
    {96, 82}, {97, 79}, {98, 80}, {99, 81}, {100, 75}, {101, 76}, {102, 77}, {103, 71}, {104, 72}, {105, 73},
    {106, 55}, {107, 78}, {108, 156}, {109, 74}, {110, 83}, {111, 181},
    {112, 59}, {113, 60}, {114, 61}, {115, 62}, {116, 63}, {117, 64}, {118, 65}, {119, 66}, {120, 67}, {121, 68},
    {122, 87}, {123, 88}, {124, 100}, {125, 101}, {126, 102},
    {144, 69}, {145, 70},
    {160, 42}, {161, 54}, {162, 29}, {163, 157}, {164, 56}, {165, 184},
    {186, 39}, {187, 13}, {188, 51}, {189, 12}, {190, 52}, {191, 53}, {192, 41},
    {219, 26}, {220, 43}, {221, 27}, {222, 40}, {225, 150}, {226, 86},
};

struct KeyTable {
    u8 dik[256];
    constexpr KeyTable() : dik()
    {
        for (u8& entry : dik)
            entry = 255;
        for (const KeyRow& row : keyRows)
            dik[row.virtualKey] = row.dik;
    }
};

constexpr KeyTable keyTable;

// The key of a key message: extended Control and Alt are the right-hand keys.
u8 keyCode(const u8* vkToDik, WPARAM wParam, LPARAM lParam)
{
    ENGINE_ASSERT(wParam < 256 && "wParam < 256");
    u32 vk = u32(wParam & 255);
    if (lParam & (1 << 24)) {
        if (vk == VK_CONTROL)
            vk = VK_RCONTROL;
        else if (vk == VK_MENU)
            vk = VK_RMENU;
    }
    return vkToDik[vk];
}

} // namespace

u8 countMoves = 0;

void CALLBACK recentreTimerProc(HWND window, UINT, UINT_PTR, DWORD)
{
    if (!countMoves)
        return;
    countMoves = 0;
    POINT cursor;
    RECT client;
    if (!GetCursorPos(&cursor) || WindowFromPoint(cursor) != window || !GetClientRect(window, &client))
        return;
    POINT topLeft{client.left, client.top};
    POINT bottomRight{client.right, client.bottom};
    ClientToScreen(window, &topLeft);
    ClientToScreen(window, &bottomRight);
    if (cursor.x < topLeft.x || cursor.x >= bottomRight.x || cursor.y < topLeft.y || cursor.y >= bottomRight.y)
        return;
    const POINT centre{(topLeft.x + bottomRight.x) / 2, (topLeft.y + bottomRight.y) / 2};
    if (cursor.x == centre.x && cursor.y == centre.y)
        countMoves = 1;
    else
        SetCursorPos(centre.x, centre.y); // its mouse move finds countMoves clear
}

GDIInput::GDIInput()
{
    std::copy(std::begin(keyTable.dik), std::end(keyTable.dik), vkToDik);
}

GDIInput::~GDIInput()
{
    if (window)
        KillTimer(window, recentreTimer);
}

bool GDIInput::init(HWND target)
{
    countMoves = 1;
    SetTimer(target, recentreTimer, recentreDelay, recentreTimerProc);
    window = target;
    return true;
}

LRESULT GDIInput::handleMessage(HWND target, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    // Alt, F10 and the keys pressed while Alt is held arrive as system keys.
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN: {
        const u8 code = keyCode(vkToDik, wParam, lParam);
        keys[code] = 1;
        lastKey = code;
        break;
    }
    case WM_KEYUP:
    case WM_SYSKEYUP:
        keys[keyCode(vkToDik, wParam, lParam)] = 0;
        break;
    case WM_MOUSEWHEEL:
        wheel += i16(HIWORD(wParam));
        break;
    case WM_MOUSEMOVE: {
        const i32 x = i16(LOWORD(lParam));
        const i32 y = i16(HIWORD(lParam));
        if (countMoves) {
            dx += x - lastX;
            dy += y - lastY;
        }
        lastX = x;
        lastY = y;
        countMoves = 1;
        SetTimer(target, recentreTimer, recentreDelay, recentreTimerProc);
        break;
    }
    default:
        break;
    }
    switch (message) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MOUSEWHEEL:
        buttons[0] = (wParam & MK_LBUTTON) != 0;
        buttons[1] = (wParam & MK_RBUTTON) != 0;
        buttons[2] = (wParam & MK_MBUTTON) != 0;
        break;
    default:
        break;
    }
    return DefWindowProcA(target, message, wParam, lParam);
}
