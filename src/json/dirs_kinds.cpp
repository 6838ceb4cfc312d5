// The files of the detail reply by type and by age, written as JSON.
#include "json/dirs_kinds.h"

#include "json/dirs_detail.h"
#include "json/writer.h"
#include "walk/ages.h"

// A row's figures: ,"files":N,"bytes":N,"disk_bytes":N.
static void write_sum(const file_sum *s) {
  out_fmt(",\"files\":%llu,\"bytes\":%llu,\"disk_bytes\":%llu",
          (unsigned long long)s->files, (unsigned long long)s->bytes,
          (unsigned long long)s->disk_bytes);
}

void write_kinds(const type_table *types, const file_sum *ages, int partial) {
  static const file_sum none[AGE_BANDS] = {};
  if (!ages) ages = none;
  // Every file is in one band: the bands' sums are the files'.
  file_sum all = {0, 0, 0};
  for (int b = 0; b < AGE_BANDS; b++) file_sum_add(&all, &ages[b]);
  out_fmt(",\"files\":%llu,\"files_bytes\":%llu,\"files_disk_bytes\":%llu",
          (unsigned long long)all.files, (unsigned long long)all.bytes,
          (unsigned long long)all.disk_bytes);
  write_partial("files_partial", partial);
  OUT_LIT(",\"types\":[");
  type_row rows[TYPES_SHOWN + 1];
  int n = types ? type_rank(types, TYPES_SHOWN, rows) : 0;
  for (int i = 0; i < n; i++) {
    if (i) OUT_LIT(",");
    OUT_LIT("{\"type\":");
    if (rows[i].row == TYPE_ROWS) {
      OUT_LIT("null");
    } else if (rows[i].row == TYPE_NONE) {
      OUT_LIT("\"\"");
    } else {
      char text[TYPE_EXT_MAX + 1];
      type_text(&types->slot[rows[i].row].key, text);
      json_str(text);
    }
    write_sum(&rows[i].sum);
    out_fmt(",\"exact\":%s}", rows[i].exact ? "true" : "false");
  }
  OUT_LIT("],\"ages\":[");
  for (int b = 0; b < AGE_BANDS; b++) {
    if (b) OUT_LIT(",");
    OUT_LIT("{\"age\":");
    json_str(age_names[b]);
    write_sum(&ages[b]);
    OUT_LIT("}");
  }
  OUT_LIT("]");
}
