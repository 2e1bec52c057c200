// The page arithmetic of printing, shared by the preview and the print job so
// both place the picture identically. Plain integers, no widgets.
//
// Products of page and picture sizes are formed in 64 bits: a 2400 dpi page
// (over 26,000 pixels tall) times a picture height of tens of thousands
// overflows 32 bits and would put the picture in the wrong place.
#pragma once

#include <cstdint>

struct TPrintOptions {
    bool UseFull = true;     // "Seite voll nutzen"; false: "Benutzerdefiniert"
    bool KeepRatio = true;   // "Seitenverhältnis beibehalten"
    bool Centred = true;     // "Zentrierte Ausgabe"
    int Breite = 50;         // width in percent of the page (user-defined mode)
    int Hoehe = 50;          // height in percent of the page (user-defined mode)
    // With the ratio kept in user-defined mode, the percentage the user
    // entered gives the size and the picture's own proportions the other
    // side; the other field only shows that side rounded to whole percent.
    bool HoeheLeads = false; // the height was entered (else the width)
};

struct TPlace {
    int32_t X = 0, Y = 0, W = 0, H = 0;
    bool operator==(const TPlace&) const = default;
};

// Where and how large the picture (picW x picH) goes on a page of pageW x pageH.
// Nothing (all zero) for a page or picture without area.
TPlace PicturePlace(int64_t pageW, int64_t pageH, int64_t picW, int64_t picH, const TPrintOptions& o);

// The page drawn in a preview box of boxW x boxH: the largest rectangle of the
// page's proportions that fits, centred. Nothing for a page without area.
TPlace PreviewPage(int64_t boxW, int64_t boxH, int64_t pageW, int64_t pageH);

// The height in percent that keeps the picture's proportions at `breite`
// percent of the page width, and its mirror image. Not cut or clamped.
double CoupledHoehe(int breite, int64_t pageW, int64_t pageH, int64_t picW, int64_t picH);
double CoupledBreite(int hoehe, int64_t pageW, int64_t pageH, int64_t picW, int64_t picH);

// A percentage rounded to the nearest whole (halves to even), as a value for
// a spin edit; values far out of range become 0 or 101 (the edit clamps
// them) instead of overflowing.
int RoundPercent(double v);
