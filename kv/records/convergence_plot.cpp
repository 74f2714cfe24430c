// The convergence plot: a statistics log as an SVG chart.
#include "kv/records/convergence_plot.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

#include "kv/records/detail/record_text.h"

namespace kv {

namespace {

using detail::FixedText;
using detail::XmlEscaped;

constexpr const char* BestColour = "#1f77b4";
constexpr const char* MeanColour = "#ff7f0e";
constexpr const char* SpreadColour = "#ff7f0e";
constexpr const char* ReferenceColour = "#2ca02c";

// Geometry: the plot area, with room for tick labels on the left and below, the title above and
// the legend on the right.
constexpr double Width = 760, Height = 440;
constexpr double Left = 72, Right = 560, Top = 48, Bottom = 380;

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
double NiceStep(double Range, int MaxTicks) {
    const double Raw = Range / MaxTicks;
    const double Power = std::pow(10.0, std::floor(std::log10(Raw)));
    const double F = Raw / Power;
    return (F <= 1 ? 1 : F <= 2 ? 2 : F <= 5 ? 5 : 10) * Power;
}

TAxis MakeAxis(double Lo, double Hi, int MaxTicks, double MinStep) {
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

// A tick label: as many decimals as the step needs.
std::string TickLabel(double V, double Step) {
    int Decimals = 0;
    while (Decimals < 6 && std::fabs(Step * std::pow(10.0, Decimals) -
                                     std::round(Step * std::pow(10.0, Decimals))) > 1e-9)
        ++Decimals;
    if (std::fabs(V) < Step * 1e-9)
        V = 0; // no "-0"
    return FixedText(V, Decimals);
}

std::string Line(double X1, double Y1, double X2, double Y2) {
    return "<line x1=\"" + FixedText(X1, 2) + "\" y1=\"" + FixedText(Y1, 2) + "\" x2=\"" +
           FixedText(X2, 2) + "\" y2=\"" + FixedText(Y2, 2) + "\"/>";
}

std::string Point(double X, double Y) {
    return FixedText(X, 2) + "," + FixedText(Y, 2);
}

std::string LegendEntry(double X, double Y, const char* Colour, const char* Kind,
                        const std::string& Text) {
    std::string S;
    if (std::string(Kind) == "band")
        S = "  <rect x=\"" + FixedText(X, 1) + "\" y=\"" + FixedText(Y - 10, 1) +
            "\" width=\"26\" height=\"12\" fill=\"" + Colour + "\" fill-opacity=\"0.2\"/>\n";
    else
        S = "  <line x1=\"" + FixedText(X, 1) + "\" y1=\"" + FixedText(Y - 4, 1) + "\" x2=\"" +
            FixedText(X + 26, 1) + "\" y2=\"" + FixedText(Y - 4, 1) + "\" stroke=\"" + Colour +
            "\" stroke-width=\"2\"" +
            (std::string(Kind) == "dashed" ? " stroke-dasharray=\"6 4\"" : "") + "/>\n";
    S += "  <text x=\"" + FixedText(X + 34, 1) + "\" y=\"" + FixedText(Y, 1) + "\">" +
         XmlEscaped(Text) + "</text>\n";
    return S;
}

// The figures drawn for one record.
struct TFigures {
    double Generation, Best, Mean, Lower, Upper;
};

} // namespace

TKvConvergencePlot::TKvConvergencePlot(std::string Title, std::string FitnessTitle)
    : FTitle(std::move(Title)), FFitnessTitle(std::move(FitnessTitle)) {}

void TKvConvergencePlot::SetReference(double Value, std::string Label) {
    FReference = Value;
    FReferenceLabel = std::move(Label);
}

std::string TKvConvergencePlot::SvgText(const TKvStatisticsLog& Log) const {
    const bool Maximize = Log.GetFitnessMethod() == fmMaximize;
    std::vector<TFigures> Rows;
    for (const TKvGenerationRecord& R : Log.GetRecords())
        Rows.push_back({static_cast<double>(R.Generation), Maximize ? R.MaxFitness : R.MinFitness,
                        R.AvgFitness,
                        // No fitness lies outside the generation's range: the band stays in it.
                        std::max(R.AvgFitness - R.StdDev, R.MinFitness),
                        std::min(R.AvgFitness + R.StdDev, R.MaxFitness)});
    const bool Reference = FReference && std::isfinite(*FReference);

    // The axes.
    TAxis X;
    if (Rows.empty()) {
        X = MakeAxis(0, 1, 10, 1);
    } else {
        double Lo = Rows.front().Generation, Hi = Lo;
        for (const TFigures& R : Rows) {
            Lo = std::min(Lo, R.Generation);
            Hi = std::max(Hi, R.Generation);
        }
        X = MakeAxis(Lo, Hi == Lo ? Lo + 1 : Hi, 10, 1); // generations are whole numbers
        if (Lo >= 0 && X.Lo < 0)
            X.Lo = 0;
    }
    TAxis Y;
    {
        bool Any = false;
        double Lo = 0, Hi = 0;
        auto Take = [&](double V) {
            if (!std::isfinite(V))
                return;
            Lo = Any ? std::min(Lo, V) : V;
            Hi = Any ? std::max(Hi, V) : V;
            Any = true;
        };
        for (const TFigures& R : Rows) {
            Take(R.Best);
            Take(R.Mean);
            if (FSpread && std::isfinite(R.Lower) && std::isfinite(R.Upper)) {
                Take(R.Lower);
                Take(R.Upper);
            }
        }
        if (Reference)
            Take(*FReference);
        if (!Any) {
            Y = MakeAxis(0, 1, 8, 0);
        } else {
            // A little headroom so that the lines do not run along the frame, but an axis of
            // figures of one sign does not cross zero for it.
            const double Pad = (Hi - Lo) * 0.04;
            Y = MakeAxis(Lo >= 0 ? std::max(Lo - Pad, 0.0) : Lo - Pad,
                         Hi <= 0 ? std::min(Hi + Pad, 0.0) : Hi + Pad, 8, 0);
        }
    }
    auto PX = [&](double V) { return Left + (V - X.Lo) / (X.Hi - X.Lo) * (Right - Left); };
    auto PY = [&](double V) { return Bottom - (V - Y.Lo) / (Y.Hi - Y.Lo) * (Bottom - Top); };

    std::string S;
    S += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    S += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + FixedText(Width, 0) +
         "\" height=\"" + FixedText(Height, 0) + "\" viewBox=\"0 0 " + FixedText(Width, 0) + " " +
         FixedText(Height, 0) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    S += "  <rect x=\"0\" y=\"0\" width=\"" + FixedText(Width, 0) + "\" height=\"" +
         FixedText(Height, 0) + "\" fill=\"white\"/>\n";
    S += "  <text x=\"" + FixedText((Left + Right) / 2, 1) +
         "\" y=\"28\" text-anchor=\"middle\" font-size=\"15\" font-weight=\"bold\">" +
         XmlEscaped(FTitle) + "</text>\n";

    // Grid lines and tick labels.
    S += "  <g stroke=\"#dddddd\" stroke-width=\"1\">\n";
    for (double T : X.Ticks())
        S += "    " + Line(PX(T), Top, PX(T), Bottom) + "\n";
    for (double T : Y.Ticks())
        S += "    " + Line(Left, PY(T), Right, PY(T)) + "\n";
    S += "  </g>\n";
    S += "  <g fill=\"#333333\">\n";
    for (double T : X.Ticks())
        S += "    <text x=\"" + FixedText(PX(T), 1) + "\" y=\"" + FixedText(Bottom + 18, 1) +
             "\" text-anchor=\"middle\">" + TickLabel(T, X.Step) + "</text>\n";
    for (double T : Y.Ticks())
        S += "    <text x=\"" + FixedText(Left - 8, 1) + "\" y=\"" + FixedText(PY(T) + 4, 1) +
             "\" text-anchor=\"end\">" + TickLabel(T, Y.Step) + "</text>\n";
    S += "  </g>\n";

    // The axes and their titles.
    S += "  <g stroke=\"#333333\" stroke-width=\"1.5\">\n";
    S += "    " + Line(Left, Bottom, Right, Bottom) + "\n";
    S += "    " + Line(Left, Top, Left, Bottom) + "\n";
    S += "  </g>\n";
    S += "  <text x=\"" + FixedText((Left + Right) / 2, 1) + "\" y=\"" + FixedText(Bottom + 42, 1) +
         "\" text-anchor=\"middle\">generation</text>\n";
    S += "  <text x=\"18\" y=\"" + FixedText((Top + Bottom) / 2, 1) +
         "\" text-anchor=\"middle\" transform=\"rotate(-90 18 " + FixedText((Top + Bottom) / 2, 1) +
         ")\">" + XmlEscaped(FFitnessTitle) + "</text>\n";

    // The spread band: one polygon per unbroken run of records, along the upper edge and back
    // along the lower one.
    if (FSpread) {
        std::vector<const TFigures*> Run;
        auto Flush = [&] {
            if (Run.size() >= 2) {
                std::string Points;
                for (const TFigures* R : Run)
                    Points.append(Points.empty() ? "" : " ")
                        .append(Point(PX(R->Generation), PY(R->Upper)));
                for (auto It = Run.rbegin(); It != Run.rend(); ++It)
                    Points.append(" ").append(Point(PX((*It)->Generation), PY((*It)->Lower)));
                S += "  <polygon class=\"spread\" fill=\"" + std::string(SpreadColour) +
                     "\" fill-opacity=\"0.2\" stroke=\"none\" points=\"" + Points + "\"/>\n";
            }
            Run.clear();
        };
        for (const TFigures& R : Rows) {
            if (std::isfinite(R.Lower) && std::isfinite(R.Upper))
                Run.push_back(&R);
            else
                Flush();
        }
        Flush();
    }

    // The reference line, then the two series (best drawn last, on top).
    if (Reference)
        S += "  <g stroke=\"" + std::string(ReferenceColour) +
             "\" stroke-width=\"1.5\" stroke-dasharray=\"6 4\">" +
             Line(Left, PY(*FReference), Right, PY(*FReference)) + "</g>\n";
    auto Series = [&](double TFigures::*Field, const char* Name, const char* Colour) {
        std::string Points;
        int Count = 0;
        auto Flush = [&] {
            // A single point draws no line; the dots below show it when there are few records.
            if (Count >= 2)
                S += "  <polyline class=\"" + std::string(Name) + "\" fill=\"none\" stroke=\"" +
                     Colour + "\" stroke-width=\"2\" stroke-linejoin=\"round\" points=\"" + Points +
                     "\"/>\n";
            Points.clear();
            Count = 0;
        };
        for (const TFigures& R : Rows) {
            const double V = R.*Field;
            if (!std::isfinite(V)) {
                Flush();
                continue;
            }
            Points.append(Count > 0 ? " " : "").append(Point(PX(R.Generation), PY(V)));
            ++Count;
        }
        Flush();
        if (Rows.size() <= 40)
            for (const TFigures& R : Rows)
                if (std::isfinite(R.*Field))
                    S += "  <circle cx=\"" + FixedText(PX(R.Generation), 2) + "\" cy=\"" +
                         FixedText(PY(R.*Field), 2) + "\" r=\"2.5\" fill=\"" + Colour + "\"/>\n";
    };
    Series(&TFigures::Mean, "mean", MeanColour);
    Series(&TFigures::Best, "best", BestColour);

    // The legend, beside the plot.
    const double LX = Right + 24;
    double LY = Top + 6;
    const int Entries = 2 + (FSpread ? 1 : 0) + (Reference ? 1 : 0);
    S += "  <rect x=\"" + FixedText(LX - 10, 1) + "\" y=\"" + FixedText(LY - 14, 1) +
         "\" width=\"176\" height=\"" + FixedText(Entries * 22.0 + 6, 1) +
         "\" fill=\"white\" stroke=\"#999999\"/>\n";
    S += LegendEntry(LX, LY, BestColour, "line", "best " + FFitnessTitle);
    LY += 22;
    S += LegendEntry(LX, LY, MeanColour, "line", "mean " + FFitnessTitle);
    LY += 22;
    if (FSpread) {
        S += LegendEntry(LX, LY, SpreadColour, "band", "mean \xC2\xB1 1 std. dev.");
        LY += 22;
    }
    if (Reference)
        S += LegendEntry(LX, LY, ReferenceColour, "dashed", FReferenceLabel);
    S += "</svg>\n";
    return S;
}

void TKvConvergencePlot::SaveToFile(const TKvStatisticsLog& Log,
                                    const std::string& FileName) const {
    detail::SaveRecordText(FileName, SvgText(Log));
}

} // namespace kv
