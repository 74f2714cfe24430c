// TRunReport: the per-generation figures of an evolutionary run, written as a CSV file and as an
// SVG line chart. Header-only, shared by the demo programs.
//
// A demo adds one row per generation (generation, best fitness, mean fitness, diversity) and, when
// it knows one, a reference value such as the known optimum. Then:
//   CsvText / WriteCsv   a header line "generation,best,mean,diversity" and one line per row.
//                        Numbers are written locale-independently in their shortest round-trip
//                        form; a non-finite value is written as inf, -inf or nan.
//   SvgText / WriteSvg   a self-contained SVG document: a line chart of best and mean fitness
//                        against the generation, with axes, tick labels, grid lines, axis titles,
//                        a title, a legend beside the plot and the reference value as a dashed
//                        line. Rows with a non-finite figure break the line instead of bending it.
//                        The axes are scaled to "nice" tick steps (1, 2 or 5 times a power of 10)
//                        around the data and the reference value; a run of one generation, or one
//                        whose fitness never changes, still gets a sensible range.
// Texts (title, axis titles, labels) are escaped for XML.
//
// Errors: WriteCsv/WriteSvg raise kv::Exception naming the file when it cannot be written
// completely. Nothing else raises.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "kv/rtl/exceptions.h"

namespace kv::examples {

// The figures of one generation.
struct TGenerationFigures {
    int Generation = 0;
    double Best = 0;
    double Mean = 0;
    double Diversity = 0;
};

class TRunReport {
public:
    // Title is shown above the chart; FitnessTitle names the vertical axis and, after "best" and
    // "mean", the two lines in the legend.
    explicit TRunReport(std::string Title, std::string FitnessTitle = "fitness")
        : FTitle(std::move(Title)), FFitnessTitle(std::move(FitnessTitle)) {}

    void Add(int Generation, double Best, double Mean, double Diversity) {
        FRows.push_back({Generation, Best, Mean, Diversity});
    }
    const std::vector<TGenerationFigures>& Rows() const noexcept { return FRows; }

    // A horizontal reference line (for example the known optimum), drawn dashed and named in the
    // legend by Label.
    void SetReference(double Value, std::string Label) {
        FReference = Value;
        FReferenceLabel = std::move(Label);
    }

    std::string CsvText() const {
        std::string Out = "generation,best,mean,diversity\n";
        for (const TGenerationFigures& R : FRows) {
            Out += std::to_string(R.Generation);
            for (double V : {R.Best, R.Mean, R.Diversity}) {
                Out += ',';
                Out += Number(V);
            }
            Out += '\n';
        }
        return Out;
    }

    std::string SvgText() const {
        // Geometry: the plot area, with room for tick labels on the left and below, the title
        // above and the legend on the right.
        constexpr double Width = 760, Height = 440;
        constexpr double Left = 72, Right = 560, Top = 48, Bottom = 380;

        TAxis X = XAxis();
        TAxis Y = YAxis();
        auto PX = [&](double V) { return Left + (V - X.Lo) / (X.Hi - X.Lo) * (Right - Left); };
        auto PY = [&](double V) { return Bottom - (V - Y.Lo) / (Y.Hi - Y.Lo) * (Bottom - Top); };

        std::string S;
        S += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
        S += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Fixed(Width, 0) +
             "\" height=\"" + Fixed(Height, 0) + "\" viewBox=\"0 0 " + Fixed(Width, 0) + " " +
             Fixed(Height, 0) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
        S += "  <rect x=\"0\" y=\"0\" width=\"" + Fixed(Width, 0) + "\" height=\"" +
             Fixed(Height, 0) + "\" fill=\"white\"/>\n";
        S += "  <text x=\"" + Fixed((Left + Right) / 2, 1) +
             "\" y=\"28\" text-anchor=\"middle\" font-size=\"15\" font-weight=\"bold\">" +
             Escape(FTitle) + "</text>\n";

        // Grid lines and tick labels.
        S += "  <g stroke=\"#dddddd\" stroke-width=\"1\">\n";
        for (double T : X.Ticks())
            S += "    " + Line(PX(T), Top, PX(T), Bottom) + "\n";
        for (double T : Y.Ticks())
            S += "    " + Line(Left, PY(T), Right, PY(T)) + "\n";
        S += "  </g>\n";
        S += "  <g fill=\"#333333\">\n";
        for (double T : X.Ticks())
            S += "    <text x=\"" + Fixed(PX(T), 1) + "\" y=\"" + Fixed(Bottom + 18, 1) +
                 "\" text-anchor=\"middle\">" + Label(T, X.Step) + "</text>\n";
        for (double T : Y.Ticks())
            S += "    <text x=\"" + Fixed(Left - 8, 1) + "\" y=\"" + Fixed(PY(T) + 4, 1) +
                 "\" text-anchor=\"end\">" + Label(T, Y.Step) + "</text>\n";
        S += "  </g>\n";

        // The axes and their titles.
        S += "  <g stroke=\"#333333\" stroke-width=\"1.5\">\n";
        S += "    " + Line(Left, Bottom, Right, Bottom) + "\n";
        S += "    " + Line(Left, Top, Left, Bottom) + "\n";
        S += "  </g>\n";
        S += "  <text x=\"" + Fixed((Left + Right) / 2, 1) + "\" y=\"" + Fixed(Bottom + 42, 1) +
             "\" text-anchor=\"middle\">generation</text>\n";
        S += "  <text x=\"18\" y=\"" + Fixed((Top + Bottom) / 2, 1) +
             "\" text-anchor=\"middle\" transform=\"rotate(-90 18 " + Fixed((Top + Bottom) / 2, 1) +
             ")\">" + Escape(FFitnessTitle) + "</text>\n";

        // The reference line, then the two series (best drawn last, on top).
        if (HasReference())
            S += "  <g stroke=\"" + std::string(ReferenceColour) +
                 "\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\">" +
                 Line(Left, PY(*FReference), Right, PY(*FReference)) + "</g>\n";
        S += Series(&TGenerationFigures::Mean, MeanColour, PX, PY);
        S += Series(&TGenerationFigures::Best, BestColour, PX, PY);

        // The legend, beside the plot.
        const double LX = Right + 24;
        double LY = Top + 6;
        const int Entries = HasReference() ? 3 : 2;
        S += "  <rect x=\"" + Fixed(LX - 10, 1) + "\" y=\"" + Fixed(LY - 14, 1) +
             "\" width=\"176\" height=\"" + Fixed(Entries * 22.0 + 6, 1) +
             "\" fill=\"white\" stroke=\"#999999\"/>\n";
        S += LegendEntry(LX, LY, BestColour, false, "best " + FFitnessTitle);
        LY += 22;
        S += LegendEntry(LX, LY, MeanColour, false, "mean " + FFitnessTitle);
        LY += 22;
        if (Entries == 3)
            S += LegendEntry(LX, LY, ReferenceColour, true, FReferenceLabel);
        S += "</svg>\n";
        return S;
    }

    void WriteCsv(const std::string& Path) const { WriteFile(Path, CsvText()); }
    void WriteSvg(const std::string& Path) const { WriteFile(Path, SvgText()); }

private:
    static constexpr const char* BestColour = "#1f77b4";
    static constexpr const char* MeanColour = "#ff7f0e";
    static constexpr const char* ReferenceColour = "#2ca02c";

    bool HasReference() const noexcept { return FReference && std::isfinite(*FReference); }

    // An axis range with its tick step; Lo and Hi are multiples of Step and Lo < Hi.
    struct TAxis {
        double Lo = 0, Hi = 1, Step = 1;
        std::vector<double> Ticks() const {
            std::vector<double> T;
            const long N = std::lround((Hi - Lo) / Step);
            for (long I = 0; I <= N; ++I)
                T.push_back(Lo + static_cast<double>(I) * Step);
            return T;
        }
    };

    // A tick step of 1, 2 or 5 times a power of ten giving at most about MaxTicks intervals.
    static double NiceStep(double Range, int MaxTicks) {
        const double Raw = Range / MaxTicks;
        const double Power = std::pow(10.0, std::floor(std::log10(Raw)));
        const double F = Raw / Power;
        return (F <= 1 ? 1 : F <= 2 ? 2 : F <= 5 ? 5 : 10) * Power;
    }

    static TAxis MakeAxis(double Lo, double Hi, int MaxTicks, double MinStep) {
        if (!(Hi > Lo)) {
            // A single value: a range around it.
            const double Pad = Lo == 0 ? 1 : std::fabs(Lo) * 0.05;
            Lo -= Pad;
            Hi += Pad;
        }
        TAxis A;
        A.Step = std::max(NiceStep(Hi - Lo, MaxTicks), MinStep);
        A.Lo = std::floor(Lo / A.Step) * A.Step;
        A.Hi = std::ceil(Hi / A.Step) * A.Step;
        if (!(A.Hi > A.Lo))
            A.Hi = A.Lo + A.Step;
        return A;
    }

    TAxis XAxis() const {
        if (FRows.empty())
            return MakeAxis(0, 1, 10, 1);
        int Lo = FRows.front().Generation, Hi = Lo;
        for (const TGenerationFigures& R : FRows) {
            Lo = std::min(Lo, R.Generation);
            Hi = std::max(Hi, R.Generation);
        }
        TAxis A = MakeAxis(Lo, Hi == Lo ? Lo + 1 : Hi, 10, 1); // generations are whole numbers
        if (Lo >= 0 && A.Lo < 0)
            A.Lo = 0;
        return A;
    }

    TAxis YAxis() const {
        bool Any = false;
        double Lo = 0, Hi = 0;
        auto Take = [&](double V) {
            if (!std::isfinite(V))
                return;
            Lo = Any ? std::min(Lo, V) : V;
            Hi = Any ? std::max(Hi, V) : V;
            Any = true;
        };
        for (const TGenerationFigures& R : FRows) {
            Take(R.Best);
            Take(R.Mean);
        }
        if (HasReference())
            Take(*FReference);
        if (!Any)
            return MakeAxis(0, 1, 8, 0);
        // A little headroom so that the lines do not run along the frame, but an axis of
        // figures of one sign does not cross zero for it.
        const double Pad = (Hi - Lo) * 0.04;
        return MakeAxis(Lo >= 0 ? std::max(Lo - Pad, 0.0) : Lo - Pad,
                        Hi <= 0 ? std::min(Hi + Pad, 0.0) : Hi + Pad, 8, 0);
    }

    // One series as polylines, split where a figure is not finite; dots when there are few rows.
    template <class PXT, class PYT>
    std::string Series(double TGenerationFigures::*Field, const char* Colour, PXT PX,
                       PYT PY) const {
        std::string S;
        std::string Points;
        int Count = 0;
        auto Flush = [&] {
            if (Count >= 2)
                S += "  <polyline fill=\"none\" stroke=\"" + std::string(Colour) +
                     "\" stroke-width=\"2\" stroke-linejoin=\"round\" points=\"" + Points +
                     "\"/>\n";
            Points.clear();
            Count = 0;
        };
        for (const TGenerationFigures& R : FRows) {
            const double V = R.*Field;
            if (!std::isfinite(V)) {
                Flush();
                continue;
            }
            if (Count > 0)
                Points += ' ';
            Points += Fixed(PX(R.Generation), 2) + "," + Fixed(PY(V), 2);
            ++Count;
        }
        Flush();
        if (FRows.size() <= 40) {
            for (const TGenerationFigures& R : FRows) {
                const double V = R.*Field;
                if (std::isfinite(V))
                    S += "  <circle cx=\"" + Fixed(PX(R.Generation), 2) + "\" cy=\"" +
                         Fixed(PY(V), 2) + "\" r=\"2.5\" fill=\"" + Colour + "\"/>\n";
            }
        }
        return S;
    }

    static std::string LegendEntry(double X, double Y, const char* Colour, bool Dashed,
                                   const std::string& Text) {
        std::string S = "  <line x1=\"" + Fixed(X, 1) + "\" y1=\"" + Fixed(Y - 4, 1) + "\" x2=\"" +
                        Fixed(X + 26, 1) + "\" y2=\"" + Fixed(Y - 4, 1) + "\" stroke=\"" + Colour +
                        "\" stroke-width=\"2\"" + (Dashed ? " stroke-dasharray=\"6 4\"" : "") +
                        "/>\n";
        S += "  <text x=\"" + Fixed(X + 34, 1) + "\" y=\"" + Fixed(Y, 1) + "\">" + Escape(Text) +
             "</text>\n";
        return S;
    }

    static std::string Line(double X1, double Y1, double X2, double Y2) {
        return "<line x1=\"" + Fixed(X1, 2) + "\" y1=\"" + Fixed(Y1, 2) + "\" x2=\"" +
               Fixed(X2, 2) + "\" y2=\"" + Fixed(Y2, 2) + "\"/>";
    }

    // A tick label: as many decimals as the step needs.
    static std::string Label(double V, double Step) {
        int Decimals = 0;
        while (Decimals < 6 && std::fabs(Step * std::pow(10.0, Decimals) -
                                         std::round(Step * std::pow(10.0, Decimals))) > 1e-9)
            ++Decimals;
        if (std::fabs(V) < Step * 1e-9)
            V = 0; // no "-0"
        return Fixed(V, Decimals);
    }

    // Locale-independent fixed-point text.
    static std::string Fixed(double V, int Decimals) {
        char Buf[64];
        const auto R = std::to_chars(Buf, Buf + sizeof Buf, V, std::chars_format::fixed, Decimals);
        return R.ec == std::errc() ? std::string(Buf, R.ptr) : std::string("0");
    }

    // Locale-independent shortest round-trip text (inf, -inf, nan for non-finite values).
    static std::string Number(double V) {
        char Buf[64];
        const auto R = std::to_chars(Buf, Buf + sizeof Buf, V);
        return std::string(Buf, R.ptr);
    }

    static std::string Escape(const std::string& Text) {
        std::string Out;
        for (char C : Text) {
            switch (C) {
            case '&':
                Out += "&amp;";
                break;
            case '<':
                Out += "&lt;";
                break;
            case '>':
                Out += "&gt;";
                break;
            case '"':
                Out += "&quot;";
                break;
            default:
                Out += C;
            }
        }
        return Out;
    }

    static void WriteFile(const std::string& Path, const std::string& Text) {
        std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
        if (Out)
            Out.write(Text.data(), static_cast<std::streamsize>(Text.size()));
        Out.close();
        if (!Out)
            throw Exception(Format("Cannot write the file \"%s\"", Path));
    }

    std::string FTitle;
    std::string FFitnessTitle;
    std::vector<TGenerationFigures> FRows;
    std::optional<double> FReference;
    std::string FReferenceLabel;
};

} // namespace kv::examples
