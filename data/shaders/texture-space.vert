#version 120
// Lighting laid out in texture space: each vertex is placed at its texture coordinate, so the
// light arriving on the skin becomes an image that the diffusion passes can blur.
attribute vec3 tangent;
attribute vec3 binormal;
varying vec3 eyePosition;
varying vec3 eyeNormal;
varying vec3 eyeTangent;
varying vec3 eyeBinormal;

void main()
{
    eyePosition = vec3(gl_ModelViewMatrix * gl_Vertex);
    eyeNormal = gl_NormalMatrix * gl_Normal;
    eyeTangent = gl_NormalMatrix * tangent;
    eyeBinormal = gl_NormalMatrix * binormal;
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_Position = vec4(gl_MultiTexCoord0.st * 2.0 - 1.0, 0.0, 1.0);
}
