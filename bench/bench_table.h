// The suite's result table: every figure with its trials beside the floor's trials from the
// same run, printed as text and written as JSON.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Figure {
  std::string name;        // what was measured
  std::string unit;        // "s", "CPU s / tile s", "fps", "MiB"
  std::vector<double> values;
  std::string floor_name;  // what it is compared with; empty when it has no floor
  std::vector<double> floor_values;
  std::string note;
};

double median(std::vector<double> v);  // NaN when empty

class Table {
 public:
  void add(Figure figure) { figures_.push_back(std::move(figure)); }
  const std::vector<Figure>& figures() const { return figures_; }
  // Figures without a single value (a measurement that failed), by name.
  std::vector<std::string> missing() const;
  std::string text() const;
  std::string json() const;

 private:
  std::vector<Figure> figures_;
};

}  // namespace bench
