#version 330 core
#extension GL_ARB_separate_shader_objects : require
// The bound texture, tinted by the vertex colour.
uniform sampler2D image;
layout(location = 0) in vec2 uv;
layout(location = 1) in vec4 tint;
layout(location = 0) out vec4 colour;
void main() {
  colour = texture(image, uv) * tint;
}
