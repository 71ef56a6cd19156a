// The second-order sections the music modes' filters are built of, and their designs: Butterworth
// low- and high-passes, and the band-pass a real-time analyser uses for one band. Platform-free.
#pragma once

// One section in transposed direct form II. In double: the low band's filters run at the
// device's rate, where 30 Hz is a thousandth of it or less and float would blur the poles.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0; // zeros
    double a1 = 0, a2 = 0;         // poles; a0 is 1
    double state1 = 0, state2 = 0;

    double process(double x) {
        double y = b0 * x + state1;
        state1 = b1 * x - a1 * y + state2;
        state2 = b2 * x - a2 * y;
        return y;
    }
};

// Section `index` (0 to sections - 1) of a Butterworth filter of order 2 x sections, -3 dB at
// `cutoff` Hz. The cascade of all its sections is the filter.
Biquad butterworthLowpass(double cutoff, double rate, int index, int sections);
Biquad butterworthHighpass(double cutoff, double rate, int index, int sections);

enum { kBandpassSections = 3 };

// A sixth-order Butterworth band-pass, -3 dB at `low` and `high` Hz: the slopes a real-time
// analyser's band needs to keep a tone an octave away some 48 dB down. Each section has unity
// gain at the band's centre, so no section clips what the next one reads.
void butterworthBandpass(double low, double high, double rate, Biquad sections[kBandpassSections]);
