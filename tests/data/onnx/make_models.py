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


def model(name, nodes, inits, in_shape, out_shape, check=True):
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
    onnx.save(m, os.path.join(HERE, name + ".onnx"))
    return {i.name: numpy_helper.to_array(i).astype(np.float64) for i in inits}


def relu(x):
    return np.maximum(x, 0.0)


def sigmoid(x):
    return 1.0 / (1.0 + np.exp(-x))


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

with open(os.path.join(HERE, "expected.json"), "w") as f:
    json.dump({k: {"input": list(map(float, v[0])), "output": list(map(float, v[1]))}
               for k, v in expected.items()}, f, indent=1)
    f.write("\n")
