#include "RecordsetGrid.h"

#include "Database.h"
#include "TextParts.h"

namespace velmo::exporting {

std::vector<std::vector<std::string>> RecordsetGridRows(velmo::db::Recordset& rs,
                                                        const std::function<void()>& paint) {
  velmo::db::Fields& fields = rs.GetFields();
  const long count = fields.Count();
  const size_t width = static_cast<size_t>(count) + 1;
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> titles(width);
  for (long i = 0; i < count; ++i) titles[static_cast<size_t>(i) + 1] = velmo::text::Trim(fields[i].Name());
  rows.push_back(std::move(titles));
  for (; !rs.Eof(); rs.MoveNext()) {
    std::vector<std::string> row(width);
    for (long i = 0; i < count; ++i) {
      const velmo::db::Value& v = fields[i].Val();
      row[static_cast<size_t>(i) + 1] = v.IsNull() ? std::string(" ") : velmo::text::Trim(v.Text());
    }
    rows.push_back(std::move(row));
    if (paint && rows.size() % 5000 == 0) paint();
  }
  return rows;
}

}  // namespace velmo::exporting
