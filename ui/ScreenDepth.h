// Joins raster/'s scaled drawing to Qt: the screen's colour depth for
// ScreenBitsPerPixel and the responder for the drawing code's messages.
#pragma once

// Installs both hooks; call once after the QApplication exists. The depth is
// forced when the environment variable WL_SCREEN_BPP or the setting
// "Raster/ScreenBitsPerPixel" (organisation "Quenbrik", application
// "Web Lumifang") holds a positive number, e.g. 8 to run the halftone path.
void InstallRasterHooks();

// The primary screen's depth in bits per pixel as Qt reports it (32 when there is no screen).
int QtScreenBitsPerPixel();
