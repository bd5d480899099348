#include "display/Spektra.h"

#include <kissfft/kiss_fftr.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <numbers>

namespace rv8 {

struct Spektra::Plan {
    kiss_fftr_cfg cfg = nullptr;
    std::array<double, kInputs> window{};
    double windowSum = 0.0;
    std::array<kiss_fft_scalar, kInputs> windowed{};
    std::array<kiss_fft_cpx, kBins> out{};
};

Spektra::Spektra() : plan_(new Plan) {
    plan_->cfg = kiss_fftr_alloc(kInputs, 0, nullptr, nullptr);
    if (plan_->cfg == nullptr) {
        delete plan_;
        throw std::bad_alloc();
    }
    // Periodic Hann window: w[n] = 0.5 - 0.5 cos(2 pi n / N). Its sum is N / 2.
    for (int n = 0; n < kInputs; ++n) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / kInputs);
        plan_->window[n] = w;
        plan_->windowSum += w;
    }
}

Spektra::~Spektra() {
    kiss_fftr_free(plan_->cfg);
    delete plan_;
}

void Spektra::SetInput(int16_t index, const int16_t& sample) {
    if (index < 0 || index >= kInputs) return;
    input_[index] = static_cast<float>(sample);
}

void Spektra::Transform(int16_t count) {
    const int used = std::clamp<int>(count, 0, kInputs);
    for (int n = 0; n < kInputs; ++n) {
        const double x = n < used ? static_cast<double>(input_[n]) * plan_->window[n] : 0.0;
        plan_->windowed[n] = static_cast<kiss_fft_scalar>(x);
    }
    kiss_fftr(plan_->cfg, plan_->windowed.data(), plan_->out.data());

    // Amplitude spectrum in the chart's raw units. A sine of amplitude A centred on bin k puts
    // A / 2 * sum(window) into X[k] and the same into its mirror image at N - k, which the real
    // transform folds away; so bins 1..511 are 2 |X[k]| / sum(window) and read A. Bin 0 (DC)
    // and bin 512 (half the sample frequency) have no mirror image: |X[k]| / sum(window), so a
    // constant input c reads |c|. The result is limited to 0..32767, the 16-bit range the
    // window stores it in (a constant -32768 would otherwise read 32768).
    const double norm = 1.0 / plan_->windowSum;
    for (int k = 0; k < kBins; ++k) {
        const double re = plan_->out[k].r;
        const double im = plan_->out[k].i;
        const double factor = (k == 0 || k == kBins - 1) ? norm : 2.0 * norm;
        amplitudes_[k] = std::hypot(re, im) * factor;
        bins_[k] = std::clamp(amplitudes_[k], 0.0, 32767.0);
    }
}

double Spektra::BinValue(int16_t bin) const {
    if (bin < 0 || bin >= kBins) return 0.0;
    return bins_[bin];
}

}  // namespace rv8
