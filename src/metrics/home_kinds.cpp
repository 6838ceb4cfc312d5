// The listed folder's files by age band and by type, as metric families.
#include "metrics/home_kinds.h"

#include <string.h>

#include "metrics/text_format.h"
#include "reply/bytes.h"
#include "walk/ages.h"
#include "walk/types.h"

enum { FILES, BYTES, DISK_BYTES };

static uint64_t figure_of(const file_sum *s, int figure) {
  return figure == FILES ? s->files : figure == BYTES ? s->bytes : s->disk_bytes;
}

struct kind_family {
  int figure;
  const char *age_name, *age_help, *type_name, *type_help;
};

static const kind_family families[] = {
    {FILES, "disks_home_age_files",
     "Files beneath the listed folder by the time since their last change: "
     "under a day (or in the future), a week, 30 days, 365 days, older, or "
     "not told.",
     "disks_home_type_files",
     "Files beneath the listed folder of a type (the extension; empty for "
     "none), for the types largest on disk."},
    {BYTES, "disks_home_age_bytes",
     "Total size of the files beneath the listed folder by the time since "
     "their last change.",
     "disks_home_type_bytes",
     "Total size of the files beneath the listed folder of a type, for the "
     "types largest on disk."},
    {DISK_BYTES, "disks_home_age_disk_bytes",
     "What the files beneath the listed folder take on the volume by the "
     "time since their last change.",
     "disks_home_type_disk_bytes",
     "What the files beneath the listed folder of a type take on the volume, "
     "for the types largest on disk."},
};

void write_home_kinds(const home_walk *w) {
  if (!w->ages || !w->types) return;
  for (const kind_family &f : families) {
    metrics_family(f.age_name, f.age_help);
    for (int b = 0; b < AGE_BANDS; b++) {
      out_bytes(f.age_name, strlen(f.age_name));
      OUT_LIT("{age=\"");
      out_bytes(age_names[b], strlen(age_names[b]));
      OUT_LIT("\"}");
      metrics_value(figure_of(&w->ages[b], f.figure));
    }
  }
  // The others are no type: left out, so each series is one type's.
  type_row rows[TYPES_SHOWN + 1];
  int n = type_rank(w->types, METRICS_TYPES, rows);
  if (n && rows[n - 1].row == TYPE_ROWS) n--;
  if (!n) return;
  for (const kind_family &f : families) {
    metrics_family(f.type_name, f.type_help);
    for (int i = 0; i < n; i++) {
      char text[TYPE_EXT_MAX + 1] = "";
      if (rows[i].row != TYPE_NONE) type_text(&w->types->slot[rows[i].row].key, text);
      out_bytes(f.type_name, strlen(f.type_name));
      OUT_LIT("{type=");
      metrics_label_value(text);
      OUT_LIT("}");
      metrics_value(figure_of(&rows[i].sum, f.figure));
    }
  }
}
