// Placeholder until this unit is written.
namespace kp {}
