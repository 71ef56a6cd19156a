#include "biquad.h"

#include <cmath>
#include <complex>

using Complex = std::complex<double>;

static const double kPi = 3.14159265358979323846;

// The quality of section `index` of a Butterworth filter of order 2 x sections: its poles lie
// evenly on a half circle, each pair at its own angle.
static double butterworthQuality(int index, int sections) {
    return 1.0 / (2.0 * std::cos(kPi * (2 * index + 1) / (4.0 * sections)));
}

// Robert Bristow-Johnson's audio cookbook: the bilinear transform prewarped at the cutoff.
Biquad butterworthLowpass(double cutoff, double rate, int index, int sections) {
    double omega = 2.0 * kPi * cutoff / rate;
    double alpha = std::sin(omega) / (2.0 * butterworthQuality(index, sections));
    double cosine = std::cos(omega);
    double a0 = 1.0 + alpha;
    Biquad section;
    section.b0 = (1.0 - cosine) / 2.0 / a0;
    section.b1 = (1.0 - cosine) / a0;
    section.b2 = section.b0;
    section.a1 = -2.0 * cosine / a0;
    section.a2 = (1.0 - alpha) / a0;
    return section;
}

Biquad butterworthHighpass(double cutoff, double rate, int index, int sections) {
    double omega = 2.0 * kPi * cutoff / rate;
    double alpha = std::sin(omega) / (2.0 * butterworthQuality(index, sections));
    double cosine = std::cos(omega);
    double a0 = 1.0 + alpha;
    Biquad section;
    section.b0 = (1.0 + cosine) / 2.0 / a0;
    section.b1 = -(1.0 + cosine) / a0;
    section.b2 = section.b0;
    section.a1 = -2.0 * cosine / a0;
    section.a2 = (1.0 - alpha) / a0;
    return section;
}

// The low-pass prototype's poles become band-pass poles by s -> (s^2 + w0^2) / (B s), then
// digital ones by the bilinear transform, with both edges prewarped so that they stay where
// they were asked for even close to the rate's limit. Of each conjugate pair the section keeps
// the upper pole; its zeros are those of the band-pass, at 0 Hz and at half the rate.
void butterworthBandpass(double low, double high, double rate, Biquad sections[kBandpassSections]) {
    const int order = kBandpassSections;
    double lowEdge = 2.0 * rate * std::tan(kPi * low / rate);
    double highEdge = 2.0 * rate * std::tan(kPi * high / rate);
    double centreSquared = lowEdge * highEdge;
    double bandwidth = highEdge - lowEdge;
    double centre = 2.0 * std::atan(std::sqrt(centreSquared) / (2.0 * rate)); // radians a sample
    Complex onCentre = std::polar(1.0, -centre);

    int made = 0;
    for (int k = 0; k < order; ++k) {
        Complex prototype = std::polar(1.0, kPi * (2 * k + order + 1) / (2.0 * order));
        Complex scaled = prototype * bandwidth;
        Complex root = std::sqrt(scaled * scaled - 4.0 * centreSquared);
        for (Complex analog : {(scaled + root) / 2.0, (scaled - root) / 2.0}) {
            if (analog.imag() <= 0.0 || made == order)
                continue;
            Complex pole = (2.0 * rate + analog) / (2.0 * rate - analog);
            Biquad& section = sections[made++];
            section = Biquad();
            section.a1 = -2.0 * pole.real();
            section.a2 = std::norm(pole);
            Complex numerator = 1.0 - onCentre * onCentre;
            Complex denominator = 1.0 + section.a1 * onCentre + section.a2 * onCentre * onCentre;
            double gain = std::abs(denominator) / std::abs(numerator);
            section.b0 = gain;
            section.b1 = 0.0;
            section.b2 = -gain;
        }
    }
}
