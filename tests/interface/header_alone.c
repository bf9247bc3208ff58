/* Compiled with one public header forced in (-include) and nothing else: the header must stand on
 * its own in the language mode given. */
typedef int header_alone_translation_unit;
