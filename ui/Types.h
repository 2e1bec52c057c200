// Small value types shared by the control layer and the forms: colours,
// geometry, keys, shift state and dialog results, named as the forms use them.
#pragma once

#include <cstdint>

// 0x00BBGGRR, the Windows colour layout, so a colour written RGB(r, g, b) keeps
// the numbers it has in any Windows colour picker.
using TColor = std::uint32_t;

constexpr TColor RGB(unsigned r, unsigned g, unsigned b)
{
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}
constexpr unsigned GetRValue(TColor c) { return c & 0xFF; }
constexpr unsigned GetGValue(TColor c) { return (c >> 8) & 0xFF; }
constexpr unsigned GetBValue(TColor c) { return (c >> 16) & 0xFF; }

constexpr TColor clBlack = RGB(0, 0, 0);
constexpr TColor clWhite = RGB(255, 255, 255);
constexpr TColor clNavy = RGB(0, 0, 128);
constexpr TColor clMaroon = RGB(128, 0, 0);
constexpr TColor clGray = RGB(128, 128, 128);
constexpr TColor clSilver = RGB(192, 192, 192);
constexpr TColor clBlue = RGB(0, 0, 255);
// Not a colour: "whatever the platform's style gives this control".
constexpr TColor clDefault = 0xFF000000u;
// Tooltip background of the desktop palette.
constexpr TColor clInfoBk = 0xFF000001u;

struct TPoint {
    int X = 0;
    int Y = 0;
};

struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool operator==(const TRect&) const = default;
};

enum class TAlign { None, Top, Bottom, Left, Right, Client };

enum TShiftFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32 };
using TShiftState = unsigned;

enum class TMouseButton { Left, Right, Middle };

// Virtual key codes: letters and digits are their upper-case ASCII codes.
using Word = std::uint16_t;
enum : Word {
    VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11,
    VK_MENU = 0x12, VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22,
    VK_END = 0x23, VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27,
    VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_ADD = 0x6B, VK_SUBTRACT = 0x6D, VK_F1 = 0x70,
    VK_OEM_PLUS = 0xBB, VK_OEM_MINUS = 0xBD
};

// Results of modal forms and message boxes, numbered as the Windows dialog
// results (IDOK 1, IDCANCEL 2 ...).
enum TModalResult : int {
    mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrRetry = 4, mrIgnore = 5, mrYes = 6, mrNo = 7,
    // Yes or No for this question and every later one of its kind.
    mrNoToAll = 9, mrYesToAll = 10
};

enum class TMsgIcon { None, Information, Warning, Error, Question };

enum TMsgButton : unsigned {
    mbOK = 1, mbCancel = 2, mbYes = 4, mbNo = 8, mbAbort = 16, mbRetry = 32, mbIgnore = 64,
    mbYesToAll = 128, mbNoToAll = 256
};
using TMsgButtons = unsigned;
