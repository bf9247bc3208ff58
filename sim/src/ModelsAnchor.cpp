// Keeps the target model library non-empty while it has no model of its own.
namespace dravik::sim {
int ModelsAnchor() {
    return 0;
}
}  // namespace dravik::sim
