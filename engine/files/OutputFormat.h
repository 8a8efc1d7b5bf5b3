// The file formats the writers produce.
#pragma once

namespace kx {

// The file format written for an operation's output.
enum class OutputFormat { Jpeg, Png, Webp, Avif };

}  // namespace kx
