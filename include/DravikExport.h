/* Export macros of libDravikTrace.so: everything is hidden unless marked here. */
#ifndef DRAVIK_EXPORT_H
#define DRAVIK_EXPORT_H

#define DRAVIK_API __attribute__((visibility("default")))
#define DRAVIK_INTERNAL __attribute__((visibility("hidden")))

#endif
