#!/usr/bin/python3
"""Makes the small ONNX models the runtime tests read, with the official ONNX tooling.

Run with Debian's python3-onnx (apt-get install python3-onnx):  ./make_models.py
Writes <name>.onnx and expected.json (inputs and the outputs numpy computes in double precision
from the stored single-precision weights). The files are committed; tests never run this.
"""
import json
import os

import numpy as np
import onnx
from onnx import TensorProto, helper, numpy_helper

HERE = os.path.dirname(os.path.abspath(__file__))
IN, OUT = "dense_1_input__0", "output_node0__0"
rng = np.random.default_rng(20261208)


def weights(name, shape, scale=1.0):
    return numpy_helper.from_array((rng.standard_normal(shape) * scale).astype(np.float32), name)


def model(name, nodes, inits, in_shape, out_shape, check=True, external=None):
    """Saves the model; with `external`, every tensor goes to that file beside it."""
    graph = helper.make_graph(
        nodes, name,
        [helper.make_tensor_value_info(IN, TensorProto.FLOAT, in_shape)],
        [helper.make_tensor_value_info(OUT, TensorProto.FLOAT, out_shape)],
        initializer=inits)
    m = helper.make_model(graph, producer_name="hcf-test-models",
                          opset_imports=[helper.make_opsetid("", 13)])
    m.ir_version = 8
    if check:
        onnx.checker.check_model(m)
    path = os.path.join(HERE, name + ".onnx")
    if external:
        # The tooling appends to the data file: start from none.
        if os.path.exists(os.path.join(HERE, external)):
            os.remove(os.path.join(HERE, external))
        onnx.save_model(m, path, save_as_external_data=True, all_tensors_to_one_file=True,
                        location=external, size_threshold=0)
    else:
        onnx.save(m, path)
    return {i.name: numpy_helper.to_array(i).astype(np.float64) for i in inits}


def relu(x):
    return np.maximum(x, 0.0)


def sigmoid(x):
    return 1.0 / (1.0 + np.exp(-x))


def softmax(x, axis=-1):
    e = np.exp(x - x.max(axis=axis, keepdims=True))
    return e / e.sum(axis=axis, keepdims=True)


def constant(name, values, dtype=np.float32):
    """A Constant node, as PyTorch exports its literals."""
    return helper.make_node("Constant", [], [name],
                            value=numpy_helper.from_array(np.array(values, dtype=dtype)))


expected = {}

# Gemm with transB, alpha and beta, then Relu: [N, 4] -> 3.
w = model("gemm_relu",
          [helper.make_node("Gemm", [IN, "W", "C"], ["h"], alpha=0.5, beta=2.0, transB=1),
           helper.make_node("Relu", ["h"], [OUT])],
          [weights("W", (3, 4)), weights("C", (3,))], ["N", 4], ["N", 3])
x = rng.standard_normal(4)
expected["gemm_relu"] = (x, relu(0.5 * (x @ w["W"].T) + 2.0 * w["C"]))

# A two-layer perceptron: MatMul, Add, Tanh, MatMul, Add, Sigmoid: 8 -> 6 -> 3.
w = model("mlp_tanh_sigmoid",
          [helper.make_node("MatMul", [IN, "W1"], ["m1"]),
           helper.make_node("Add", ["m1", "b1"], ["a1"]),
           helper.make_node("Tanh", ["a1"], ["t1"]),
           helper.make_node("MatMul", ["t1", "W2"], ["m2"]),
           helper.make_node("Add", ["m2", "b2"], ["a2"]),
           helper.make_node("Sigmoid", ["a2"], [OUT])],
          [weights("W1", (8, 6), 0.5), weights("b1", (6,)), weights("W2", (6, 3)),
           weights("b2", (3,))], [8], [3])
x = rng.standard_normal(8)
expected["mlp_tanh_sigmoid"] = (x, sigmoid(np.tanh(x @ w["W1"] + w["b1"]) @ w["W2"] + w["b2"]))

# Reshape to [2, 3], Flatten back to [1, 6], Identity, then Gemm without transposes: 6 -> 2.
shape = numpy_helper.from_array(np.array([2, -1], dtype=np.int64), "shape")
w = model("reshape_flatten_gemm",
          [helper.make_node("Reshape", [IN, "shape"], ["r"]),
           helper.make_node("Flatten", ["r"], ["f"], axis=0),
           helper.make_node("Identity", ["f"], ["i"]),
           helper.make_node("Gemm", ["i", "W", "C"], [OUT])],
          [shape, weights("W", (6, 2)), weights("C", (2,))], [1, 6], [1, 2])
x = rng.standard_normal(6)
expected["reshape_flatten_gemm"] = (x, x @ w["W"] + w["C"])

# A spectral estimate: 32 bands to 31 samples, clamped below at zero.
w = model("spectral_estimate",
          [helper.make_node("MatMul", [IN, "W"], ["m"]),
           helper.make_node("Add", ["m", "b"], ["a"]),
           helper.make_node("Relu", ["a"], [OUT])],
          [weights("W", (32, 31), 0.2), weights("b", (31,), 0.1)], [32], [31])
x = rng.uniform(0.0, 1.0, 32)
expected["spectral_estimate"] = (x, relu(x @ w["W"] + w["b"]))

# Models the runtime must refuse, each for one reason.
model("refused_conv",
      [helper.make_node("Conv", [IN, "W"], [OUT])], [weights("W", (1, 1, 3))], [1, 8], [1, 6])
model("refused_missing_initializer",
      [helper.make_node("MatMul", [IN, "W"], [OUT])], [], [4], [2], check=False)
model("refused_shape_mismatch",
      [helper.make_node("MatMul", [IN, "W"], [OUT])], [weights("W", (5, 2))], [4], [2])
model("refused_not_connected",
      [helper.make_node("Relu", [IN], ["r"]), helper.make_node("Tanh", ["elsewhere"], [OUT])],
      [weights("elsewhere", (4,))], [4], [4])

# Models added later: made after the ones above so that those keep their weights.

# PyTorch style: x.view(-1, 6) with the shape as a Constant node, then two Linear layers
# (Gemm with transB) and a ReLU between; the batch dimension is symbolic. [N, 6] -> 3.
w = model("pytorch_view_linear",
          [constant("/Constant_output_0", [-1, 6], np.int64),
           helper.make_node("Reshape", [IN, "/Constant_output_0"], ["/Reshape_output_0"],
                            name="/Reshape"),
           helper.make_node("Gemm", ["/Reshape_output_0", "fc1.weight", "fc1.bias"],
                            ["/fc1/Gemm_output_0"], name="/fc1/Gemm", alpha=1.0, beta=1.0,
                            transB=1),
           helper.make_node("Relu", ["/fc1/Gemm_output_0"], ["/Relu_output_0"], name="/Relu"),
           helper.make_node("Gemm", ["/Relu_output_0", "fc2.weight", "fc2.bias"], [OUT],
                            name="/fc2/Gemm", alpha=1.0, beta=1.0, transB=1)],
          [weights("fc1.weight", (5, 6), 0.5), weights("fc1.bias", (5,)),
           weights("fc2.weight", (3, 5), 0.5), weights("fc2.bias", (3,))], ["N", 6], ["N", 3])
x = rng.standard_normal(6)
expected["pytorch_view_linear"] = (
    x, relu(x @ w["fc1.weight"].T + w["fc1.bias"]) @ w["fc2.weight"].T + w["fc2.bias"])

# Keras style (as tf2onnx writes it): Flatten with a negative axis, Dense as MatMul and Add,
# BatchNormalization (epsilon 0.001), ReLU, Dense, Softmax over the last axis. [unk, 8] -> 3.
bn = [weights("bn/gamma", (6,)), weights("bn/beta", (6,)), weights("bn/moving_mean", (6,)),
      numpy_helper.from_array(rng.uniform(0.5, 1.5, 6).astype(np.float32), "bn/moving_variance")]
w = model("keras_batchnorm_softmax",
          [helper.make_node("Flatten", [IN], ["flatten"], axis=-1),
           helper.make_node("MatMul", ["flatten", "dense/kernel"], ["dense/MatMul"]),
           helper.make_node("Add", ["dense/MatMul", "dense/bias"], ["dense/BiasAdd"]),
           helper.make_node("BatchNormalization",
                            ["dense/BiasAdd", "bn/gamma", "bn/beta", "bn/moving_mean",
                             "bn/moving_variance"], ["bn/FusedBatchNorm"], epsilon=0.001),
           helper.make_node("Relu", ["bn/FusedBatchNorm"], ["relu"]),
           helper.make_node("MatMul", ["relu", "out/kernel"], ["out/MatMul"]),
           helper.make_node("Add", ["out/MatMul", "out/bias"], ["out/BiasAdd"]),
           helper.make_node("Softmax", ["out/BiasAdd"], [OUT])],
          [weights("dense/kernel", (8, 6), 0.5), weights("dense/bias", (6,))] + bn +
          [weights("out/kernel", (6, 3)), weights("out/bias", (3,))], ["unk__12", 8],
          ["unk__12", 3])
x = rng.standard_normal(8)
h = x.reshape(1, 8) @ w["dense/kernel"] + w["dense/bias"]
epsilon = float(np.float32(0.001))
h = ((h - w["bn/moving_mean"]) / np.sqrt(w["bn/moving_variance"] + epsilon) * w["bn/gamma"] +
     w["bn/beta"])
expected["keras_batchnorm_softmax"] = (
    x, softmax(relu(h) @ w["out/kernel"] + w["out/bias"]).ravel())

# Input normalisation with Sub, Div and Mul, then constant-on-the-left Div and Sub:
# 2 / sigmoid(gain * (x - mean) / std) and 10 - that. [1, 4] -> [1, 4].
w = model("normalise_sub_mul_div",
          [helper.make_node("Sub", [IN, "mean"], ["centred"]),
           helper.make_node("Div", ["centred", "std"], ["scaled"]),
           helper.make_node("Mul", ["gain", "scaled"], ["gained"]),
           helper.make_node("Sigmoid", ["gained"], ["s"]),
           helper.make_node("Div", ["two", "s"], ["q"]),
           helper.make_node("Sub", ["ten", "q"], [OUT])],
          [weights("mean", (4,)),
           numpy_helper.from_array(rng.uniform(0.5, 2.0, (1, 4)).astype(np.float32), "std"),
           numpy_helper.from_array(np.array(1.5, dtype=np.float32), "gain"),
           numpy_helper.from_array(np.array([2.0], dtype=np.float32), "two"),
           numpy_helper.from_array(np.array(10.0, dtype=np.float64), "ten")], [1, 4], [1, 4])
x = rng.standard_normal(4)
expected["normalise_sub_mul_div"] = (
    x, (w["ten"] - w["two"] / sigmoid(w["gain"] * ((x - w["mean"]) / w["std"]))).ravel())

# A column plus a row broadcasts to a matrix: [1, 12] + [12, 1] -> [12, 12].
w = model("broadcast_column_row",
          [helper.make_node("Add", [IN, "column"], [OUT])],
          [weights("column", (12, 1))], [1, 12], [12, 12])
x = rng.standard_normal(12)
expected["broadcast_column_row"] = (x, (x.reshape(1, 12) + w["column"]).ravel())

# The weights kept in a data file beside the model. 8 -> 5.
w = model("external_data_mlp",
          [helper.make_node("MatMul", [IN, "W"], ["m"]),
           helper.make_node("Add", ["m", "b"], ["a"]),
           helper.make_node("Tanh", ["a"], [OUT])],
          [weights("W", (8, 5), 0.5), weights("b", (5,))], [8], [5],
          external="external_data_mlp.weights")
x = rng.standard_normal(8)
expected["external_data_mlp"] = (x, np.tanh(x @ w["W"] + w["b"]))

# More models the runtime must refuse.
nan_weight = weights("W1", (4, 2))
nan_weight.raw_data = np.array([0.5, np.nan, 1, 2, 3, 4, 5, 6], dtype=np.float32).tobytes()
model("refused_nan_weight",
      [helper.make_node("MatMul", [IN, "W1"], [OUT])], [nan_weight], [4], [2])
escape = TensorProto(name="W", data_type=TensorProto.FLOAT, dims=(4, 2))
escape.data_location = TensorProto.EXTERNAL
for key, value in (("location", "../external_data_mlp.weights"), ("offset", "0"),
                   ("length", "32")):
    entry = escape.external_data.add()
    entry.key, entry.value = key, value
model("refused_external_escape",
      [helper.make_node("MatMul", [IN, "W"], [OUT])], [escape], [4], [2], check=False)
model("refused_symbolic_features",
      [helper.make_node("Sub", [IN, "mean"], ["c"]), helper.make_node("Div", ["c", "std"], [OUT])],
      [numpy_helper.from_array(np.array(0.5, dtype=np.float32), "mean"),
       numpy_helper.from_array(np.array(2.0, dtype=np.float32), "std")],
      ["N", "features"], ["N", "features"])

with open(os.path.join(HERE, "expected.json"), "w") as f:
    json.dump({k: {"input": list(map(float, v[0])), "output": list(map(float, v[1]))}
               for k, v in expected.items()}, f, indent=1)
    f.write("\n")
