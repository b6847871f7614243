// Creates the installed engine and reads a value through its exported class.
#include <iostream>

#include "recorder/api/MediaRecorder.h"

int main() {
    orvale::recorder::media_drive_s drive;
    drive.name = "D";
    const std::string text = drive.ToString();
    orvale::recorder::MediaRecorder engine;
    const unsigned track = engine.GetTrackId();
    std::cout << text << " track " << track << "\n";
    return text.find("drive(D)") == 0 && track == 1 ? 0 : 1;
}
