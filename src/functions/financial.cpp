// The reference's financial functions (annuities: Pmt, FV, PV, NPer,
// Rate, IPmt, PPmt; depreciation: DDB, SLN, SYD) and its colour numbers
// (RGB, QBColor). Money paid out is negative, money received positive;
// type 1 pays at the start of each period, 0 (the default) at its end.
// A null argument gives null; an argument the reference refuses stops,
// naming the function.
#include "functions/function_support.h"
#include "functions/registry.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace tarlo {

namespace {

// The arguments as numbers, the optional ones missing as their defaults;
// nothing when one is null (the result is then null) or stopped.
template <size_t N>
std::optional<std::array<double, N>> numbersOf(sqlite3_context* ctx, int argc, sqlite3_value** a, const char* name,
                                                int least, std::array<double, N> defaults) {
    if (argc < least || argc > int(N)) {
        resultError(ctx, u"%1 の引数は %2 つから %3 つです", name, least, int(N));
        return std::nullopt;
    }
    std::array<double, N> out = defaults;
    for (int i = 0; i < argc; ++i) {
        if (isNullArg(a[i])) {
            sqlite3_result_null(ctx);
            return std::nullopt;
        }
        if (!numberOf(a[i], out[size_t(i)])) {
            mismatch(ctx, name);
            return std::nullopt;
        }
    }
    return out;
}

void resultNumber(sqlite3_context* ctx, const char* name, double value) {
    if (!std::isfinite(value)) return resultError(ctx, u"%1 の結果が数値の範囲を超えました", name);
    sqlite3_result_double(ctx, value);
}

void invalid(sqlite3_context* ctx, const char* name) {
    resultError(ctx, u"%1 の引数が正しくありません (プロシージャの呼び出し、または引数が不正です)", name);
}

// The annuity's equation, pv (1 + r)^n + pmt (1 + r type) ((1 + r)^n - 1) / r + fv = 0,
// solved for each of its parts.
double pmtOf(double rate, double nper, double pv, double fv, double type) {
    if (rate == 0) return -(pv + fv) / nper;
    const double growth = std::pow(1 + rate, nper);
    return -(rate * (fv + pv * growth)) / ((1 + rate * type) * (growth - 1));
}

double fvOf(double rate, double nper, double pmt, double pv, double type) {
    if (rate == 0) return -(pv + pmt * nper);
    const double growth = std::pow(1 + rate, nper);
    return -(pv * growth + pmt * (1 + rate * type) * (growth - 1) / rate);
}

double pvOf(double rate, double nper, double pmt, double fv, double type) {
    if (rate == 0) return -(fv + pmt * nper);
    const double growth = std::pow(1 + rate, nper);
    return -(fv + pmt * (1 + rate * type) * (growth - 1) / rate) / growth;
}

// The interest part of payment per: the balance after the payments before
// it, times the rate (nothing on the first payment made in advance).
double ipmtOf(double rate, double per, double nper, double pv, double fv, double type) {
    const double pmt = pmtOf(rate, nper, pv, fv, type);
    if (per == 1) return type != 0 ? 0 : -pv * rate;
    if (type != 0) return (fvOf(rate, per - 2, pmt, pv, 1) - pmt) * rate;
    return fvOf(rate, per - 1, pmt, pv, 0) * rate;
}

double typeOf(double type) { return type != 0 ? 1 : 0; }

void pmt(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<5>(ctx, argc, a, "Pmt", 3, {0, 0, 0, 0, 0});
    if (!v) return;
    const auto [rate, nper, pv, fv, type] = *v;
    if (nper == 0) return invalid(ctx, "Pmt");
    resultNumber(ctx, "Pmt", pmtOf(rate, nper, pv, fv, typeOf(type)));
}

void fv(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<5>(ctx, argc, a, "FV", 3, {0, 0, 0, 0, 0});
    if (!v) return;
    const auto [rate, nper, payment, pv, type] = *v;
    resultNumber(ctx, "FV", fvOf(rate, nper, payment, pv, typeOf(type)));
}

void pv(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<5>(ctx, argc, a, "PV", 3, {0, 0, 0, 0, 0});
    if (!v) return;
    const auto [rate, nper, payment, fv, type] = *v;
    resultNumber(ctx, "PV", pvOf(rate, nper, payment, fv, typeOf(type)));
}

void nper(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<5>(ctx, argc, a, "NPer", 3, {0, 0, 0, 0, 0});
    if (!v) return;
    const auto [rate, payment, pv, fv, t] = *v;
    const double type = typeOf(t);
    if (rate == 0) {
        if (payment == 0) return invalid(ctx, "NPer");
        return resultNumber(ctx, "NPer", -(pv + fv) / payment);
    }
    const double due = payment * (1 + rate * type);
    const double ratio = (due - fv * rate) / (due + pv * rate);
    if (!(ratio > 0) || rate <= -1) return invalid(ctx, "NPer");
    resultNumber(ctx, "NPer", std::log(ratio) / std::log(1 + rate));
}

// Rate: the annuity's equation solved by Newton's method from guess, as
// the reference describes (20 tries to within 0.0000001), else it stops.
void rate(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<6>(ctx, argc, a, "Rate", 3, {0, 0, 0, 0, 0, 0.1});
    if (!v) return;
    const auto [nper, payment, pv, fv, t, guess] = *v;
    const double type = typeOf(t);
    if (nper <= 0) return invalid(ctx, "Rate");
    const auto f = [&](double r) {
        if (std::fabs(r) < 1e-12) return pv + payment * nper + fv;
        const double growth = std::pow(1 + r, nper);
        return pv * growth + payment * (1 + r * type) * (growth - 1) / r + fv;
    };
    double r = guess;
    for (int attempt = 0; attempt < 40; ++attempt) {
        const double h = std::max(1e-7, std::fabs(r) * 1e-7);
        const double value = f(r), slope = (f(r + h) - f(r - h)) / (2 * h);
        if (!std::isfinite(value) || !std::isfinite(slope) || slope == 0) break;
        const double next = r - value / slope;
        if (std::fabs(next - r) < 1e-9) return resultNumber(ctx, "Rate", next);
        r = next;
        if (r <= -1) break;
    }
    resultError(ctx, QStringLiteral("Rate の値が求まりません (推定値 guess を変えてください)"));
}

void ipmt(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<6>(ctx, argc, a, "IPmt", 4, {0, 0, 0, 0, 0, 0});
    if (!v) return;
    const auto [rate, per, nper, pv, fv, type] = *v;
    if (per < 1 || per > nper || nper == 0) return invalid(ctx, "IPmt");
    resultNumber(ctx, "IPmt", ipmtOf(rate, per, nper, pv, fv, typeOf(type)));
}

void ppmt(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<6>(ctx, argc, a, "PPmt", 4, {0, 0, 0, 0, 0, 0});
    if (!v) return;
    const auto [rate, per, nper, pv, fv, t] = *v;
    if (per < 1 || per > nper || nper == 0) return invalid(ctx, "PPmt");
    const double type = typeOf(t);
    resultNumber(ctx, "PPmt", pmtOf(rate, nper, pv, fv, type) - ipmtOf(rate, per, nper, pv, fv, type));
}

// Double-declining balance: each period loses factor / life of what is
// left, never going below the salvage value.
void ddb(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<5>(ctx, argc, a, "DDB", 4, {0, 0, 0, 0, 2});
    if (!v) return;
    const auto [cost, salvage, life, period, factor] = *v;
    if (cost < 0 || salvage < 0 || life <= 0 || period <= 0 || period > life || factor <= 0) return invalid(ctx, "DDB");
    double value = cost, depreciation = 0;
    for (double p = 1; p <= std::ceil(period); ++p) {
        depreciation = std::min(value * factor / life, std::max(0.0, value - salvage));
        value -= depreciation;
    }
    resultNumber(ctx, "DDB", depreciation);
}

void sln(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<3>(ctx, argc, a, "SLN", 3, {0, 0, 0});
    if (!v) return;
    const auto [cost, salvage, life] = *v;
    if (life == 0) return invalid(ctx, "SLN");
    resultNumber(ctx, "SLN", (cost - salvage) / life);
}

// Sum of the years' digits: period p of n takes (n - p + 1) / (n (n + 1) / 2).
void syd(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<4>(ctx, argc, a, "SYD", 4, {0, 0, 0, 0});
    if (!v) return;
    const auto [cost, salvage, life, period] = *v;
    if (life <= 0 || period <= 0 || period > life) return invalid(ctx, "SYD");
    resultNumber(ctx, "SYD", (cost - salvage) * (life - period + 1) * 2 / (life * (life + 1)));
}

// RGB(red, green, blue): red + 256 green + 65536 blue, each rounded and
// at most 255.
void rgb(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    const auto v = numbersOf<3>(ctx, argc, a, "RGB", 3, {0, 0, 0});
    if (!v) return;
    int64_t colour = 0, scale = 1;
    for (const double part : *v) {
        const double p = roundHalfEven(part);
        if (p < 0 || p > 32767) return invalid(ctx, "RGB");
        colour += int64_t(std::min(p, 255.0)) * scale;
        scale *= 256;
    }
    sqlite3_result_int64(ctx, colour);
}

// QBColor(0..15): the sixteen colours of the old BASIC, as RGB numbers.
void qbColor(sqlite3_context* ctx, int argc, sqlite3_value** a) {
    static constexpr int64_t kColours[] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                                           0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    const auto v = numbersOf<1>(ctx, argc, a, "QBColor", 1, {0});
    if (!v) return;
    const double n = roundHalfEven((*v)[0]);
    if (n < 0 || n > 15) return invalid(ctx, "QBColor");
    sqlite3_result_int64(ctx, kColours[int(n)]);
}

}  // namespace

std::span<const FunctionDef> financialFunctions() {
    static const FunctionDef kTable[] = {
        {"Pmt", -1, kNullsHandled, pmt},    {"FV", -1, kNullsHandled, fv},     {"PV", -1, kNullsHandled, pv},
        {"NPer", -1, kNullsHandled, nper},  {"Rate", -1, kNullsHandled, rate}, {"IPmt", -1, kNullsHandled, ipmt},
        {"PPmt", -1, kNullsHandled, ppmt},  {"DDB", -1, kNullsHandled, ddb},   {"SLN", -1, kNullsHandled, sln},
        {"SYD", -1, kNullsHandled, syd},    {"RGB", -1, kNullsHandled, rgb},   {"QBColor", -1, kNullsHandled, qbColor},
    };
    return kTable;
}

}  // namespace tarlo
