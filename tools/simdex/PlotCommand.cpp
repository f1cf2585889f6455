// simdex plot: the distance density and distribution of an index, the
// statistics that drive the approximate searches, drawn by gnuplot.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "m_trees/MetricTree.h"
#include "tools/simdex/CommandContext.h"
#include "tools/simdex/DistanceDistribution.h"
#include "tools/simdex/Gnuplot.h"

namespace simdex::cli {
namespace {

struct PlotOptions {
  std::string directory;
  std::string output;
  std::string size = "900x700";
};

std::string Format(const char* pattern, double v) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, v);
  return text;
}

Status RunPlot(const PlotOptions& o, bool quiet) {
  const std::string output =
      o.output.empty() ? MetricTree::FileIn(o.directory, "distribution.png") : o.output;
  Gnuplot::Format format;
  SIMDEX_RETURN_IF_ERROR(Gnuplot::FormatOf(output, &format));
  int width = 0;
  int height = 0;
  SIMDEX_RETURN_IF_ERROR(Gnuplot::ParseSize(o.size, &width, &height));
  DistanceDistribution dist;
  SIMDEX_RETURN_IF_ERROR(DistanceDistribution::Load(o.directory, &dist));

  std::vector<std::vector<double>> density;
  std::vector<std::vector<double>> distribution;
  for (std::size_t i = 0; i < dist.positions().size(); ++i) {
    density.push_back({dist.positions()[i], dist.density()[i]});
    distribution.push_back({dist.positions()[i], dist.distribution()[i]});
  }

  std::string title = o.directory + ": ";
  std::string note;
  if (dist.measured()) {
    const std::int64_t sampled = std::min<std::int64_t>(dist.objects(), MetricTree::kMaxSamples);
    title +=
        std::to_string(dist.objects()) + " objects, " +
        (sampled == dist.objects() ? std::string("distances among all pairs")
                                   : "distances among " + std::to_string(sampled) + " sampled");
  } else {
    title += "uniform density of a new index";
    note = "not measured yet: run 'simdex stats " + o.directory + "'";
  }
  const double median = dist.Quantile(0.5);
  const std::string max = Format("%g", dist.maxDistance());

  Gnuplot plot(output, format, width, height);
  plot.Data("density", density);
  plot.Data("distribution", distribution);
  plot.Command("set multiplot layout 2,1 title " + Gnuplot::Quote(title));
  plot.Command("set grid");
  // The axis labels and panel titles name the curves: no key to collide
  // with the median label.
  plot.Command("unset key");
  plot.Command("set xrange [0:" + max + "]");
  plot.Command("set yrange [0:*]");
  // Room above the highest value (a flat density would lie on the border),
  // and one left margin so that both panels share their distance axis.
  plot.Command("set offsets 0, 0, graph 0.05, 0");
  plot.Command("set lmargin 12");
  if (!note.empty())
    plot.Command("set label 1 " + Gnuplot::Quote(note) + " at graph 0.5,0.5 center");
  if (dist.measured()) {
    // The median shows where most distances lie; the approximate searches
    // work at the far left, among the smallest distances. Its label sits low
    // on the right of the line, where neither curve passes near the median.
    plot.Command("set arrow 1 from " + Format("%.9g", median) + ", graph 0 to " +
                 Format("%.9g", median) + ", graph 1 nohead dashtype 2");
    plot.Command("set label 2 " + Gnuplot::Quote("median " + Format("%.4g", median)) + " at " +
                 Format("%.9g", median) + ", graph 0.08 offset 1,0");
  }
  plot.Command("set ylabel 'density f(d)'");
  plot.Command("set title 'Density.dat' font ',9'");
  plot.Command("plot $density using 1:2 with lines linewidth 2");
  plot.Command("unset label 1");
  plot.Command("set xlabel 'distance d (0 to the maximum distance " + max + ")'");
  plot.Command("set ylabel 'distribution F(d)'");
  plot.Command("set title 'Distribution.dat' font ',9'");
  plot.Command("plot $distribution using 1:2 with lines linewidth 2 linecolor 2");
  plot.Command("unset multiplot");
  SIMDEX_RETURN_IF_ERROR(plot.Render());
  if (!quiet && !dist.measured()) {
    std::fprintf(stderr, "simdex plot: %s holds the uniform density of a new index; %s\n",
                 o.directory.c_str(), note.c_str());
  }
  std::printf("wrote %s\n", output.c_str());
  return Status::OK();
}

}  // namespace

void AddPlotCommand(CLI::App& app, CommandContext& ctx) {
  auto o = std::make_shared<PlotOptions>();
  CLI::App* cmd = app.add_subcommand(
      "plot", "Draw the distance density and distribution of an index (PNG or SVG, by gnuplot)");
  cmd->add_option("DIR", o->directory, "Index directory")->required();
  cmd->add_option("-o,--output", o->output,
                  "Image file, .png or .svg (default: DIR/distribution.png)")
      ->type_name("FILE");
  cmd->add_option("--size", o->size, "Image size in pixels")->type_name("WxH");
  cmd->footer(
      "The density and distribution come from the index's statistics files; a new index holds\n"
      "a uniform density until `simdex stats DIR` measures the real one.\n"
      "\nExamples:\n"
      "  simdex plot idx                         # idx/distribution.png\n"
      "  simdex plot idx -o dist.svg --size 1200x900");
  cmd->callback([o, &ctx] { ctx.Finish("plot", RunPlot(*o, ctx.quiet)); });
}

}  // namespace simdex::cli
