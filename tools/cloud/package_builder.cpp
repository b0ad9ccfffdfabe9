#include "package_builder.h"

#include <onnx/onnx_pb.h>
#include <zip.h>

#include <stdexcept>

namespace hcf_cloud::fixtures {

OnnxGraph::OnnxGraph(std::vector<std::int64_t> inputDims) : model_(new onnx::ModelProto) {
  model_->set_ir_version(8);
  model_->set_producer_name("hcf-fixtures");
  model_->add_opset_import()->set_version(13);
  auto* g = model_->mutable_graph();
  g->set_name("spectral");
  auto* in = g->add_input();
  in->set_name("dense_1_input__0");
  auto* type = in->mutable_type()->mutable_tensor_type();
  type->set_elem_type(onnx::TensorProto::FLOAT);
  for (const auto d : inputDims) {
    auto* dim = type->mutable_shape()->add_dim();
    if (d > 0) {
      dim->set_dim_value(d);
    } else {
      dim->set_dim_param("N");
    }
  }
  g->add_output()->set_name("output_node0__0");
}

OnnxGraph::~OnnxGraph() { delete model_; }

OnnxGraph& OnnxGraph::weights(const std::string& name, std::vector<std::int64_t> dims,
                              const std::vector<double>& values) {
  auto* t = model_->mutable_graph()->add_initializer();
  t->set_name(name);
  t->set_data_type(onnx::TensorProto::FLOAT);
  for (const auto d : dims) t->add_dims(d);
  for (const double v : values) t->add_float_data(static_cast<float>(v));
  return *this;
}

OnnxGraph& OnnxGraph::node(const std::string& op, std::vector<std::string> inputs,
                           const std::string& output) {
  last_ = model_->mutable_graph()->add_node();
  last_->set_op_type(op);
  last_->set_name(op + "_" + output);
  for (const auto& i : inputs) last_->add_input(i);
  last_->add_output(output);
  return *this;
}

OnnxGraph& OnnxGraph::attribute(const std::string& name, float value) {
  if (!last_) throw std::logic_error("attribute before any node");
  auto* a = last_->add_attribute();
  a->set_name(name);
  a->set_type(onnx::AttributeProto::FLOAT);
  a->set_f(value);
  return *this;
}

OnnxGraph& OnnxGraph::attribute(const std::string& name, std::int64_t value) {
  if (!last_) throw std::logic_error("attribute before any node");
  auto* a = last_->add_attribute();
  a->set_name(name);
  a->set_type(onnx::AttributeProto::INT);
  a->set_i(value);
  return *this;
}

std::string OnnxGraph::bytes() const { return model_->SerializeAsString(); }

hcf::Bytes zipArchive(const std::vector<std::pair<std::string, std::string>>& files) {
  // Built in memory: a buffer source opened as an archive, written back into the buffer.
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  if (!buffer) throw std::runtime_error("zip: no buffer");
  zip_t* z = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  if (!z) {
    zip_source_free(buffer);
    throw std::runtime_error("zip: cannot open the buffer");
  }
  zip_source_keep(buffer);
  for (const auto& [name, content] : files) {
    zip_source_t* s = zip_source_buffer(z, content.data(), content.size(), 0);
    if (!s || zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_UTF_8) < 0) {
      zip_source_free(s);
      zip_discard(z);
      zip_source_free(buffer);
      throw std::runtime_error("zip: cannot add " + name);
    }
  }
  if (zip_close(z) < 0) {
    zip_discard(z);
    zip_source_free(buffer);
    throw std::runtime_error("zip: cannot write the archive");
  }
  hcf::Bytes out;
  zip_stat_t st;
  if (zip_source_stat(buffer, &st) == 0 && zip_source_open(buffer) == 0) {
    out.resize(static_cast<std::size_t>(st.size));
    const auto n = zip_source_read(buffer, out.data(), st.size);
    zip_source_close(buffer);
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  }
  zip_source_free(buffer);
  return out;
}

void zipFileTo(const std::filesystem::path& archive, const std::string& entry,
               const std::filesystem::path& file) {
  std::filesystem::path part = archive;
  part += ".part";
  int error = 0;
  zip_t* z = zip_open(part.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!z) throw std::runtime_error("zip: cannot create " + part.string());
  zip_source_t* s = zip_source_file(z, file.c_str(), 0, -1);
  const zip_int64_t index = s ? zip_file_add(z, entry.c_str(), s, ZIP_FL_ENC_UTF_8) : -1;
  if (index < 0) {
    zip_source_free(s);
    zip_discard(z);
    throw std::runtime_error("zip: cannot add " + file.string());
  }
  // Store files compress well even at the fastest level, which keeps large catalogues quick.
  zip_set_file_compression(z, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 1);
  if (zip_close(z) < 0) {
    const std::string why = zip_strerror(z);
    zip_discard(z);
    std::error_code ec;
    std::filesystem::remove(part, ec);
    throw std::runtime_error("zip: cannot write " + archive.string() + ": " + why);
  }
  std::filesystem::rename(part, archive);
}

}  // namespace hcf_cloud::fixtures
