// Other programs' light (E1.31 and DDP) in the listener: on only while the user lets them, so a
// listener left alone opens no socket at all. Platform-free apart from the sockets underneath.
#pragma once

// Opens the ports and hands the cube's thread what they receive; the cube shows the music until
// a sender's frame arrives. Starting it again takes the new universe.
void startLight(int universe);
// The music at once, then the sockets closed.
void stopLight();
bool lightOn();
