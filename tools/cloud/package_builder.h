// Building blocks of fixture model packages: ONNX dense networks and zip archives.
#pragma once

#include <hcf/core/bytes.h>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace onnx {
class ModelProto;
class NodeProto;
}  // namespace onnx

namespace hcf_cloud::fixtures {

/// An ONNX model from "dense_1_input__0" to "output_node0__0", built node by node.
class OnnxGraph {
 public:
  /// The input's dimensions; 0 or less is a named batch dimension.
  explicit OnnxGraph(std::vector<std::int64_t> inputDims);
  ~OnnxGraph();
  OnnxGraph(const OnnxGraph&) = delete;
  OnnxGraph& operator=(const OnnxGraph&) = delete;

  /// A float initializer, values in row-major order.
  OnnxGraph& weights(const std::string& name, std::vector<std::int64_t> dims,
                     const std::vector<double>& values);
  /// A node; returns it for attributes.
  OnnxGraph& node(const std::string& op, std::vector<std::string> inputs,
                  const std::string& output);
  /// An attribute of the last node added.
  OnnxGraph& attribute(const std::string& name, float value);
  OnnxGraph& attribute(const std::string& name, std::int64_t value);

  std::string bytes() const;

 private:
  onnx::ModelProto* model_;
  onnx::NodeProto* last_ = nullptr;
};

/// A zip archive of (entry name, content) pairs, in that order, stored as given.
hcf::Bytes zipArchive(const std::vector<std::pair<std::string, std::string>>& files);

/// Writes a zip archive at `archive` holding `file` under the entry name `entry`, streamed from
/// disk (compressed). The archive appears complete or not at all. Throws std::runtime_error.
void zipFileTo(const std::filesystem::path& archive, const std::string& entry,
               const std::filesystem::path& file);

}  // namespace hcf_cloud::fixtures
