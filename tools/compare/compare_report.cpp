#include "tools/compare/compare_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace plenoview::compare {

namespace {

// The figures of a row, Y, U, V and YUV.
std::vector<double> figures(const PlaneScores& scores) {
  return {scores.psnr[0], scores.psnr[1], scores.psnr[2], scores.psnrYuv};
}

std::string tableNumber(double value) {
  if (std::isnan(value)) return "-";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char text[64];
  std::snprintf(text, sizeof text, "%.4f", value);
  return text;
}

std::string jsonNumber(double value) {
  if (std::isnan(value)) return "null";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  return shortestNumber(value);
}

std::string csvNumber(double value) {
  if (std::isnan(value)) return "";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  return shortestNumber(value);
}

// The rows the table and the CSV list.
std::vector<const PlaneScores*> rows(const Comparison& comparison) {
  std::vector<const PlaneScores*> list;
  if (comparison.lenslet) {
    list.push_back(&comparison.total);
  } else {
    for (const PlaneScores& view : comparison.views) list.push_back(&view);
  }
  return list;
}

const char* const kPlaneKeys[4] = {"y", "u", "v", "yuv"};

}  // namespace

std::string shortestNumber(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

void printTable(std::ostream& out, const Comparison& comparison) {
  std::vector<const PlaneScores*> list = rows(comparison);
  if (!comparison.lenslet) list.push_back(&comparison.total);
  size_t nameWidth = 4;    // "view"
  size_t numberWidth = 8;  // "YUV-PSNR"
  for (const PlaneScores* row : list) {
    nameWidth = std::max(nameWidth, row->name.size());
    for (double value : figures(*row))
      numberWidth = std::max(numberWidth, tableNumber(value).size());
  }
  const auto cell = [&](const std::string& text, size_t width) {
    out << std::string(width - text.size(), ' ') << text;
  };
  out << "view" << std::string(nameWidth - 4, ' ');
  for (const char* heading : {"Y-PSNR", "U-PSNR", "V-PSNR", "YUV-PSNR"}) {
    out << "  ";
    cell(heading, numberWidth);
  }
  out << '\n';
  for (const PlaneScores* row : list) {
    out << row->name << std::string(nameWidth - row->name.size(), ' ');
    for (double value : figures(*row)) {
      out << "  ";
      cell(tableNumber(value), numberWidth);
    }
    out << '\n';
  }
}

void writeJson(std::ostream& out, const Comparison& comparison) {
  const std::string prefix = comparison.lenslet ? "llpsnr_" : "mvpsnr_";
  const std::vector<double> total = figures(comparison.total);
  out << "{\n";
  for (int i = 0; i < 4; ++i) {
    out << "  \"" << prefix << kPlaneKeys[i] << "\": " << jsonNumber(total[i]) << ",\n";
  }
  out << "  \"frames\": " << comparison.frames;
  if (!comparison.lenslet) {
    out << ",\n  \"views\": [";
    for (size_t v = 0; v < comparison.views.size(); ++v) {
      const std::vector<double> values = figures(comparison.views[v]);
      out << (v == 0 ? "\n" : ",\n") << "    {\"view\": \"" << comparison.views[v].name << "\"";
      for (int i = 0; i < 4; ++i) {
        out << ", \"psnr_" << kPlaneKeys[i] << "\": " << jsonNumber(values[i]);
      }
      out << "}";
    }
    out << "\n  ]";
  }
  out << "\n}\n";
}

void writeCsv(std::ostream& out, const Comparison& comparison) {
  out << "view,psnr_y,psnr_u,psnr_v,psnr_yuv\n";
  for (const PlaneScores* row : rows(comparison)) {
    out << row->name;
    for (double value : figures(*row)) out << ',' << csvNumber(value);
    out << '\n';
  }
}

}  // namespace plenoview::compare
